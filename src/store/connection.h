#pragma once

#include "store/booktable.h"
#include "store/error.h"

#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

class SameBookIndex;

// How a column converts the text written into it, from its declared type:
// Integer, Real and Numeric turn text that reads as a number into a number;
// Text and None keep it as typed.
enum class Affinity { Text, Numeric, Integer, Real, None };
Affinity affinityOf(const QString &declaredType);

// Waiting for a file that another program holds locked.
//
// A statement that finds the file locked waits, but every wait of one
// operation draws on one allowance: an operation that runs many statements
// (a paint of the list, an export) still waits at most the allowance in all,
// and once it has run out every further statement of the operation fails at
// once. An operation is the lifetime of the outermost BusyWait on the thread;
// a nested one joins it. A statement outside any operation has an allowance
// of its own.
class BusyWait {
public:
    explicit BusyWait(std::chrono::milliseconds allowance = limit());
    ~BusyWait();
    BusyWait(const BusyWait &) = delete;
    BusyWait &operator=(const BusyWait &) = delete;

    // The allowance of an operation: 1.5 seconds unless shortened (tests).
    static std::chrono::milliseconds limit();
    static void setLimit(std::chrono::milliseconds limit);
    // Told true when an operation begins to wait for a locked file and
    // false when the waiting is over (given up, or the operation ended):
    // the screens show a wait cursor meanwhile.
    static void setObserver(std::function<void(bool waiting)> observer);
    static const std::function<void(bool waiting)> &observer();
    // How many statements, in every thread, have begun to wait for a locked
    // file since the program started: an operation whose allowance has run
    // out adds none, however many statements it still runs.
    static int waitsSoFar();

private:
    BusyWait *m_outer;
    std::chrono::milliseconds m_left;
    friend int busyHandler(void *, int);
};

// An open book database. Opening never creates a file: a missing BR.mdb,
// one that is a folder, a device or empty, a file that is not a database,
// or one without the book table and its nine fields is reported as
// store::Error naming the file; a file in the older Access format as
// store::AccessFormatError.
class Connection {
public:
    static std::shared_ptr<Connection> open(const QString &path);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    const QString &path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }

    // The name under which the table's rows are identified: "rowid", or
    // "_rowid_" or "oid" when the table has a field of its own named so.
    const QString &rowid() const { return m_rowid; }
    // How a field of the book table converts what is written into it.
    Affinity affinity(int field) const { return m_affinity[field]; }

    // A prepared statement; throws store::Error.
    sqlite3_stmt *prepare(const QString &sql) const;
    // The error of the last failed call: `what`, the file, and the reason
    // in Japanese.
    Error error(const QString &what) const;
    [[noreturn]] void fail(const QString &what) const { throw error(what); }
    // The table's row numbers came out of order: the file is damaged.
    Error outOfOrderError(const QString &what) const;
    // Runs one write (prepared and bound by `bindAndStep`) as its own
    // transaction: when it returns, the change is on disk; on any error it
    // is rolled back and store::Error is thrown. `rowsAdded` is what the
    // write does to the number of books (+1 a new one, -1 a deletion).
    template <typename F> void writeTransaction(const QString &what, F &&bindAndStep, int rowsAdded = 0);

    // Whether the file at path() is no longer the one this connection
    // opened: renamed or deleted, another file put in its place.
    bool replaced() const;
    // A number that changes whenever another connection or program has
    // written to the file since (also a file rewritten in place); throws
    // store::Error.
    qint64 version() const;

    // The number of books in the table. Counting reads the whole table, so
    // the count is kept: it stays right while no other program or
    // connection has changed the file (the engine's data version tells)
    // and this connection's own writes are added to it. Throws store::Error.
    qint64 tableCount() const;
    // The kept count when it is still right, without counting.
    std::optional<qint64> knownCount() const;
    // Drops the kept count, after a write that added an unknown number of books.
    void forgetCount() const { m_count.reset(); }

    // The file's index of titles and authors, kept in step with this
    // connection's writes (samebookindex.h); null where it could not be set up.
    SameBookIndex *sameBookIndex() const { return m_sameBook.get(); }

private:
    friend class ReadTransaction;
    Connection(sqlite3 *db, const QString &path) : m_db(db), m_path(path) {}
    void readSchema();
    void exec(const char *sql, const QString &what) const;
    void rollback() const noexcept;
    // The engine's data version of the file: it changes when another
    // connection has written to it. Within a transaction.
    qint64 dataVersion(const QString &what) const;
    bool countStillRight(const QString &what) const;
    // Tell the same-book index of a write transaction's course.
    void writeBegun() const noexcept;
    void writeCommitting() const noexcept;
    void writeEnded() const noexcept;

    sqlite3 *m_db;
    // The file opened: its device and inode.
    quint64 m_device = 0, m_inode = 0;
    mutable std::optional<qint64> m_count;
    mutable qint64 m_countVersion = 0;
    QString m_path;
    QString m_rowid = QStringLiteral("rowid");
    std::array<Affinity, FieldCount> m_affinity{};
    std::shared_ptr<SameBookIndex> m_sameBook;
};

template <typename F> void Connection::writeTransaction(const QString &what, F &&bindAndStep, int rowsAdded)
{
    exec("BEGIN IMMEDIATE", what);
    try {
        writeBegun();
        bindAndStep();
        // The kept count is right before this write only if nobody else
        // wrote since it was taken.
        const bool counted = rowsAdded != 0 && countStillRight(what);
        writeCommitting();
        exec("COMMIT", what);
        writeEnded();
        if (counted)
            *m_count += rowsAdded;
        else if (rowsAdded != 0)
            m_count.reset();
    } catch (...) {
        rollback();
        writeEnded();
        m_count.reset();
        throw;
    }
}

// Several reads as one transaction: the file is locked and checked once for
// all of them. Joins a transaction already open. Without commit() it is
// rolled back.
class ReadTransaction {
public:
    ReadTransaction(const Connection &connection, const QString &what);
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;
    void commit();

private:
    const Connection &m_connection;
    QString m_what;
    bool m_open;
};

// Text crosses into and out of the engine as UTF-8, which the database file
// holds, so that it arrives exactly as typed: the engine's UTF-16 interface
// would drop a leading U+FEFF, read U+FFFE and U+FFFF back as U+FFFD and let
// a lone surrogate swallow the character after it. A lone surrogate, which
// no text encoding can hold, is written as U+FFFD.
void bindText(sqlite3_stmt *statement, int index, const QString &text);
QString columnText(sqlite3_stmt *statement, int column);

// Owns a prepared statement for the length of a scope.
class Prepared {
public:
    explicit Prepared(sqlite3_stmt *s) : m_stmt(s) {}
    ~Prepared();
    Prepared(const Prepared &) = delete;
    Prepared &operator=(const Prepared &) = delete;
    sqlite3_stmt *get() const { return m_stmt; }

private:
    sqlite3_stmt *m_stmt;
};

} // namespace store
