#pragma once

#include "store/booktable.h"

#include <QString>
#include <QStringList>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

// An open book database. Opening never creates a file: a missing BR.mdb,
// a file that is not a database, or one without the book table and its
// nine fields is reported as store::Error naming the file; a file in the
// older Access format as store::AccessFormatError.
class Connection {
public:
    static std::shared_ptr<Connection> open(const QString &path);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    const QString &path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }

    // A prepared statement; throws store::Error.
    sqlite3_stmt *prepare(const QString &sql) const;
    // Throws store::Error with `what` and SQLite's own explanation.
    [[noreturn]] void fail(const QString &what) const;
    // Runs one write (prepared and bound by `bindAndStep`) as its own
    // transaction: when it returns, the change is on disk; on any error it
    // is rolled back and store::Error is thrown.
    template <typename F> void writeTransaction(const QString &what, F &&bindAndStep);

private:
    Connection(sqlite3 *db, const QString &path) : m_db(db), m_path(path) {}
    void exec(const char *sql, const QString &what) const;
    void rollback() const noexcept;

    sqlite3 *m_db;
    QString m_path;
};

template <typename F> void Connection::writeTransaction(const QString &what, F &&bindAndStep)
{
    exec("BEGIN IMMEDIATE", what);
    try {
        bindAndStep();
        exec("COMMIT", what);
    } catch (...) {
        rollback();
        throw;
    }
}

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
