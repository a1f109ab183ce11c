#pragma once

// The floor of each step: SQLite in this process doing the least that the
// result the user sees needs, on a connection of its own with SQLite's
// default settings (page cache, sorter), used by one thread. Nothing here
// goes through the store; the statements are written out plainly, so that
// the floor is what the engine itself costs.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

class Floor {
public:
    // Opens `path` read-write and reads the table's schema (what tells a
    // book database from any other file); aborts on failure.
    explicit Floor(const std::string &path);
    ~Floor();
    Floor(const Floor &) = delete;
    Floor &operator=(const Floor &) = delete;

    sqlite3 *handle() const { return m_db; }

    // SELECT count(*) FROM tabel.
    std::int64_t count();
    // The rowids of a SELECT, in its order (every row stepped).
    std::vector<std::int64_t> rowids(const std::string &sql, const std::string &bound = {});
    // The first `n` rows of `ids`, every field read as the grid shows it.
    void readRows(const std::vector<std::int64_t> &ids, std::size_t n);
    // The first row of the table in its own order, every field read.
    void firstRow();
    // Every row of a SELECT, every field read: what an export reads.
    std::int64_t readAll(const std::string &sql);
    // One INSERT of a book and its commit.
    void insertBook(const std::string &title);
    // One UPDATE of a book's title by rowid and its commit.
    void updateTitle(std::int64_t rowid, const std::string &title);
    // One DELETE by rowid and its commit.
    void deleteRow(std::int64_t rowid);
    // The smallest rowid of the table (the first book in the table's order).
    std::int64_t firstRowid();

private:
    sqlite3_stmt *prepare(const std::string &sql);
    void exec(const char *sql);
    [[noreturn]] void fail(const char *what);

    sqlite3 *m_db = nullptr;
    std::string m_path;
};

// The statements behind the list's record sources, in the order the list
// shows them (ties in the table's own order).
std::string orderedRowidsSql(const char *field, bool descending);
// The rowids of a field search, in the table's order, with SQLite's own
// LIKE: the keyword is bound as '%keyword%'.
std::string searchRowidsSql(const char *field);

} // namespace bench
