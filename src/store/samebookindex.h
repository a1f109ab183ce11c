#pragma once

#include <QtGlobal>

#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace store {

class Connection;

// The books by title and author, as the same-book question compares them
// (see samebook.h), kept beside the book table in the file itself so that
// the question need not read every book:
//
//   bukurea_samebook(key, rid)          a number worked out from the folded
//                                       title and author, and the book's row
//   bukurea_samebook_state(format, counter)
//
// Other programs write the book table without knowing of these tables, so
// the index is trusted only when it is proven current: the state holds the
// file's change counter (the 4 bytes at offset 24 of the file's header,
// which the engine raises by one with every write transaction when the file
// keeps a rollback journal) as it stood after the last transaction that
// kept the index in step. Any write by anyone else raises the counter past
// it. A file in write-ahead-log mode does not keep its counter up to date,
// so its index is never trusted. The proof lives in the file, so a copy of
// the file, a backup put back or a file that a sync tool puts in its place
// carries the index that belongs to its own books.
//
// A key is no proof of a match: each book found through the index is
// compared again, so the index need only hold every book there is (with a
// title), and a stale entry costs a comparison.
//
// One per connection: it sees each of the connection's writes to the book
// table (temporary triggers, which live only as long as the connection and
// never in the file), and the connection tells it when a write transaction
// begins and is about to commit, so that the index and the book are written
// in one transaction.
class SameBookIndex {
public:
    // Whether the index of the file can be trusted now: checked inside a
    // transaction. Unprovable: the file is in write-ahead-log mode, or its
    // header cannot be read.
    enum class State { Current, Stale, Unprovable };

    // Sets it up on a connection whose book table has been read; null when
    // the engine refuses (the connection then keeps no index in step, and
    // the file's index goes stale on its first write).
    static std::shared_ptr<SameBookIndex> install(const Connection &connection);
    ~SameBookIndex();

    // Inside any transaction: whether the file's index is current. Throws
    // store::Error when the file cannot be read.
    static State check(const Connection &connection);

    // The key of a title and author folded without blanks (foldWithoutBlanks).
    static qint64 key(const std::u32string &title, const std::u32string &author);

    // Called by the connection's write transaction: right after it begins,
    // before it commits, and once it has ended either way.
    void writeBegun(const Connection &connection) noexcept;
    void writeCommitting(const Connection &connection) noexcept;
    void writeEnded() noexcept;

    // Inside a write transaction: whether the index was current when it
    // began, and a rebuild from every book (one pass over the table, which
    // writes only the entries that differ) that makes it current when the
    // transaction commits. Throws store::Error.
    bool current() const { return m_mode == Mode::Current; }
    void rebuild(const Connection &connection);

    // How many times the index has been rebuilt in this process (tests).
    static int rebuildsSoFar();

private:
    SameBookIndex() = default;
    static void note(sqlite3_context *, int, sqlite3_value **);

    enum class Mode { Idle, Current, Stale };
    struct Change {
        qint64 oldKey, oldRid, newKey, newRid;
        bool hadOld, hasNew;
    };
    Mode m_mode = Mode::Idle;
    quint32 m_counter = 0;     // the file's counter when the transaction began
    bool m_provable = false;   // the counter could be read, and the file keeps it up to date
    bool m_sameFormat = false; // the file's index has this program's format: it can be brought up to date
    std::vector<Change> m_changes;
    // The connection's count of changed rows when the transaction began,
    // and how many times the triggers fired since.
    qint64 m_rowsBefore = 0, m_firings = 0;
};

} // namespace store
