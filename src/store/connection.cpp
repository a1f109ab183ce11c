#include "store/connection.h"

#include "store/error.h"
#include "store/like.h"

#include <QFileInfo>

#include <charconv>
#include <sqlite3.h>

namespace store {

namespace {

QString sqliteMessage(sqlite3 *db) { return QString::fromUtf8(sqlite3_errmsg(db)); }

// like(pattern, value): the store's LIKE, in place of SQLite's own. A NULL
// on either side never matches; numbers match as their decimal text. Two
// entry points, UTF-8 and UTF-16: SQLite calls the one in its database's
// own text encoding, so values reach the matcher without being converted.
template <bool Utf8>
void likeFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    try {
        // The pattern is the same for every row of a statement: compile it
        // once and keep it with the statement. It is read as UTF-16, the
        // form the store binds it in.
        auto *pattern = static_cast<LikePattern *>(sqlite3_get_auxdata(ctx, 0));
        std::unique_ptr<LikePattern> fresh;
        if (!pattern) {
            const void *p = sqlite3_value_text16(argv[0]);
            if (!p) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
            fresh = std::make_unique<LikePattern>(
                QStringView(static_cast<const char16_t *>(p), sqlite3_value_bytes16(argv[0]) / 2));
            pattern = fresh.get();
        }
        sqlite3_value *value = argv[1];
        bool hit;
        if (sqlite3_value_type(value) == SQLITE_INTEGER) {
            // The decimal text SQLite would make, without converting the value.
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, sqlite3_value_int64(value)).ptr;
            hit = pattern->matchesUtf8(digits, std::size_t(end - digits));
        } else if constexpr (Utf8) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(value));
            if (!text) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
            hit = pattern->matchesUtf8(text, std::size_t(sqlite3_value_bytes(value)));
        } else {
            const auto *text = static_cast<const char16_t *>(sqlite3_value_text16(value));
            if (!text) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
            hit = pattern->matches(QStringView(text, sqlite3_value_bytes16(value) / 2));
        }
        sqlite3_result_int(ctx, hit);
        if (fresh)
            sqlite3_set_auxdata(ctx, 0, fresh.release(), [](void *d) { delete static_cast<LikePattern *>(d); });
    } catch (const std::bad_alloc &) {
        // No exception may pass through SQLite's own frames.
        sqlite3_result_error_nomem(ctx);
    }
}

} // namespace

std::shared_ptr<Connection> Connection::open(const QString &path)
{
    if (!QFileInfo(path).isFile())
        throw Error(QStringLiteral("データベース ファイルが見つかりません。\n%1").arg(path));

    sqlite3 *db = nullptr;
    // Without SQLITE_OPEN_CREATE: the store never makes a database file.
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::shared_ptr<Connection> c(new Connection(db, path));
    if (rc != SQLITE_OK)
        c->fail(QStringLiteral("データベース ファイルを開けません。"));
    sqlite3_busy_timeout(db, 2000);
    // Lists read rows by rowid in their shown order, which jumps about the
    // file: a page cache of 32 MB keeps a large collection in memory.
    sqlite3_exec(db, "PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);
    sqlite3_extended_result_codes(db, 1);
    if (sqlite3_create_function_v2(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   likeFunction<true>, nullptr, nullptr, nullptr) != SQLITE_OK
        || sqlite3_create_function_v2(db, "like", 2, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                                      likeFunction<false>, nullptr, nullptr, nullptr) != SQLITE_OK)
        c->fail(QStringLiteral("データベース ファイルを開けません。"));

    // Reading the schema tells a database from any other file and finds the
    // book table and its fields.
    QStringList columns;
    {
        Prepared st(c->prepare(QStringLiteral("PRAGMA table_info(%1)").arg(tableName())));
        int step;
        while ((step = sqlite3_step(st.get())) == SQLITE_ROW)
            columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st.get(), 1)));
        if (step != SQLITE_DONE)
            c->fail(QStringLiteral("データベース ファイルを読めません。"));
    }
    if (columns.isEmpty())
        throw Error(QStringLiteral("データベースに表 %1 がありません。\n%2").arg(tableName(), path));
    for (const QString &f : fieldNames()) {
        if (!columns.contains(f, Qt::CaseInsensitive))
            throw Error(QStringLiteral("表 %1 に項目「%2」がありません。\n%3").arg(tableName(), f, path));
    }
    return c;
}

Connection::~Connection() { sqlite3_close_v2(m_db); }

sqlite3_stmt *Connection::prepare(const QString &sql) const
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare16_v2(m_db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK)
        fail(QStringLiteral("データベースの読み書きに失敗しました。"));
    return st;
}

void Connection::fail(const QString &what) const
{
    QString reason = m_db ? sqliteMessage(m_db) : QString();
    const int code = m_db ? sqlite3_errcode(m_db) : SQLITE_CANTOPEN;
    if (code == SQLITE_NOTADB)
        reason = QStringLiteral("データベース ファイルではありません");
    else if (code == SQLITE_READONLY || (code & 0xff) == SQLITE_READONLY)
        reason = QStringLiteral("ファイルに書き込めません");
    else if (code == SQLITE_BUSY || (code & 0xff) == SQLITE_BUSY)
        reason = QStringLiteral("ファイルは他のプログラムが使用中です");
    throw Error(QStringLiteral("%1\n%2\n(%3)").arg(what, m_path, reason));
}

void Connection::exec(const char *sql, const QString &what) const
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(what);
}

void Connection::rollback() const noexcept
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

Prepared::~Prepared() { sqlite3_finalize(m_stmt); }

} // namespace store
