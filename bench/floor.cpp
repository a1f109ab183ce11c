#include "floor.h"

#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {

// Reads every field of the current row as a grid or an export would: numbers
// as numbers, text as UTF-8.
void touchRow(sqlite3_stmt *st)
{
    const int n = sqlite3_column_count(st);
    for (int c = 0; c < n; ++c) {
        switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER: (void)sqlite3_column_int64(st, c); break;
        case SQLITE_FLOAT: (void)sqlite3_column_double(st, c); break;
        case SQLITE_NULL: break;
        default:
            (void)sqlite3_column_text(st, c);
            (void)sqlite3_column_bytes(st, c);
            break;
        }
    }
}

} // namespace

Floor::Floor(const std::string &path) : m_path(path)
{
    // One thread uses the connection: no locking of it per call.
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        fail("open");
    sqlite3_busy_timeout(m_db, 2000);
    sqlite3_stmt *st = prepare("PRAGMA table_info(tabel)");
    int columns = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
        ++columns;
    sqlite3_finalize(st);
    if (columns != 9)
        fail("schema");
}

Floor::~Floor() { sqlite3_close_v2(m_db); }

void Floor::fail(const char *what)
{
    std::fprintf(stderr, "floor: %s failed on %s: %s\n", what, m_path.c_str(), m_db ? sqlite3_errmsg(m_db) : "");
    std::abort();
}

sqlite3_stmt *Floor::prepare(const std::string &sql)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        fail(sql.c_str());
    return st;
}

void Floor::exec(const char *sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(sql);
}

std::int64_t Floor::count()
{
    sqlite3_stmt *st = prepare("SELECT count(*) FROM tabel");
    if (sqlite3_step(st) != SQLITE_ROW)
        fail("count");
    const std::int64_t n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return n;
}

std::vector<std::int64_t> Floor::rowids(const std::string &sql, const std::string &bound)
{
    std::vector<std::int64_t> ids;
    sqlite3_stmt *st = prepare(sql);
    if (!bound.empty())
        sqlite3_bind_text(st, 1, bound.data(), int(bound.size()), SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(st, 0));
    if (rc != SQLITE_DONE)
        fail(sql.c_str());
    sqlite3_finalize(st);
    return ids;
}

void Floor::readRows(const std::vector<std::int64_t> &ids, std::size_t n)
{
    sqlite3_stmt *st = prepare("SELECT * FROM tabel WHERE rowid = ?1");
    for (std::size_t i = 0; i < n && i < ids.size(); ++i) {
        sqlite3_bind_int64(st, 1, ids[i]);
        if (sqlite3_step(st) == SQLITE_ROW)
            touchRow(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
}

void Floor::firstRow()
{
    sqlite3_stmt *st = prepare("SELECT * FROM tabel LIMIT 1");
    if (sqlite3_step(st) == SQLITE_ROW)
        touchRow(st);
    sqlite3_finalize(st);
}

std::int64_t Floor::readAll(const std::string &sql)
{
    sqlite3_stmt *st = prepare(sql);
    std::int64_t rows = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        touchRow(st);
        ++rows;
    }
    if (rc != SQLITE_DONE)
        fail(sql.c_str());
    sqlite3_finalize(st);
    return rows;
}

void Floor::insertBook(const std::string &title)
{
    exec("BEGIN IMMEDIATE");
    sqlite3_stmt *st =
        prepare("INSERT INTO tabel (蔵書番号, 書名, 著者名, 出版社, 出版年, 分類, 保管場所, 貸出, キーワード) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    const char *texts[] = {"999999999", title.c_str(), "床 太郎", "基準社", "2024", "9 文学", "書斎", "可", "基準"};
    for (int i = 0; i < 9; ++i)
        sqlite3_bind_text(st, i + 1, texts[i], -1, SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_DONE)
        fail("insert");
    sqlite3_finalize(st);
    exec("COMMIT");
}

void Floor::updateTitle(std::int64_t rowid, const std::string &title)
{
    exec("BEGIN IMMEDIATE");
    sqlite3_stmt *st = prepare("UPDATE tabel SET 書名 = ?1 WHERE rowid = ?2");
    sqlite3_bind_text(st, 1, title.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int64(st, 2, rowid);
    if (sqlite3_step(st) != SQLITE_DONE)
        fail("update");
    sqlite3_finalize(st);
    exec("COMMIT");
}

void Floor::deleteRow(std::int64_t rowid)
{
    exec("BEGIN IMMEDIATE");
    sqlite3_stmt *st = prepare("DELETE FROM tabel WHERE rowid = ?1");
    sqlite3_bind_int64(st, 1, rowid);
    if (sqlite3_step(st) != SQLITE_DONE)
        fail("delete");
    sqlite3_finalize(st);
    exec("COMMIT");
}

std::int64_t Floor::firstRowid()
{
    sqlite3_stmt *st = prepare("SELECT rowid FROM tabel ORDER BY rowid LIMIT 1");
    const std::int64_t id = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    return id;
}

std::string orderedRowidsSql(const char *field, bool descending)
{
    return std::string("SELECT rowid FROM tabel ORDER BY ") + field + (descending ? " DESC" : " ASC") + ", rowid";
}

std::string searchRowidsSql(const char *field)
{
    return std::string("SELECT rowid FROM tabel WHERE ") + field + " LIKE ?1";
}

} // namespace bench
