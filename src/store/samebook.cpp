#include "store/samebook.h"

#include "store/booktable.h"
#include "store/connection.h"
#include "store/like.h"
#include "store/samebookindex.h"

#include <sqlite3.h>

#include <memory>
#include <string>

namespace store {

namespace {

// same_book(title, author, ?title, ?author): whether a row's title and
// author fold to the keys. The keys are folded once per statement and kept
// with it; every row is compared where it lies, without a copy.
void sameBookFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    try {
        std::u32string *keys[2];
        for (int k = 0; k < 2; ++k) {
            keys[k] = static_cast<std::u32string *>(sqlite3_get_auxdata(ctx, 2 + k));
            if (!keys[k]) {
                const auto *text = static_cast<const char16_t *>(sqlite3_value_text16(argv[2 + k]));
                auto fresh = std::make_unique<std::u32string>(
                    foldWithoutBlanks(QStringView(text, text ? sqlite3_value_bytes16(argv[2 + k]) / 2 : 0)));
                keys[k] = fresh.get();
                sqlite3_set_auxdata(ctx, 2 + k, fresh.release(),
                                    [](void *d) { delete static_cast<std::u32string *>(d); });
                // SQLite may drop the kept value at once; it is read again then.
                keys[k] = static_cast<std::u32string *>(sqlite3_get_auxdata(ctx, 2 + k));
                if (!keys[k]) {
                    sqlite3_result_error_nomem(ctx);
                    return;
                }
            }
        }
        bool same = true;
        for (int k = 0; k < 2 && same; ++k) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(argv[k]));
            same = equalsFoldedWithoutBlanks(text ? text : "", text ? std::size_t(sqlite3_value_bytes(argv[k])) : 0,
                                             *keys[k]);
        }
        sqlite3_result_int(ctx, same);
    } catch (const std::bad_alloc &) {
        // No exception may pass through SQLite's own frames.
        sqlite3_result_error_nomem(ctx);
    }
}

// The books whose title and author fold to the question's (?1, ?2; ?3 the
// key where `sql` reads the index): each row `sql` chooses is compared.
SameBooks collect(const Connection &connection, const QString &sql, const QString &title, const QString &author,
                  qint64 key, int limit)
{
    const QString what = QStringLiteral("同じ本が登録されているかどうかを調べられませんでした。");
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare16_v2(connection.handle(), sql.utf16(), -1, &prepared, nullptr) != SQLITE_OK)
        connection.fail(what);
    Prepared st(prepared);
    bindText(st.get(), 1, title);
    bindText(st.get(), 2, author);
    sqlite3_bind_int64(st.get(), 3, key);
    SameBooks found;
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        if (found.count++ < limit)
            found.numbers << columnText(st.get(), 0);
    }
    if (rc != SQLITE_DONE)
        connection.fail(what);
    return found;
}

} // namespace

SameBooks findSameBooks(Connection &connection, const QString &title, const QString &author, int limit)
{
    const std::u32string foldedTitle = foldWithoutBlanks(title);
    if (foldedTitle.empty())
        return {};
    const QString what = QStringLiteral("同じ本が登録されているかどうかを調べられませんでした。");
    if (sqlite3_create_function_v2(connection.handle(), "bukurea_same_book", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, sameBookFunction, nullptr, nullptr, nullptr)
        != SQLITE_OK)
        connection.fail(what);
    const qint64 key = SameBookIndex::key(foldedTitle, foldWithoutBlanks(author));
    const QStringList &f = fieldNames();
    // Through the index: the books with the key, in the order of the table,
    // each compared again. A title missing from a row is no match, and the
    // cheaper test goes first.
    const QString indexed = QStringLiteral("SELECT t.[%1] FROM bukurea_samebook AS s CROSS JOIN %2 AS t "
                                           "ON t.%3 = s.rid WHERE s.key = ?3 AND t.[%4] IS NOT NULL "
                                           "AND bukurea_same_book(t.[%4], t.[%5], ?1, ?2) ORDER BY s.rid")
                                .arg(f[0], tableName(), connection.rowid(), f[1], f[2]);
    {
        ReadTransaction read(connection, what);
        const SameBookIndex::State state = SameBookIndex::check(connection);
        if (state == SameBookIndex::State::Current) {
            SameBooks found = collect(connection, indexed, title, author, key, limit);
            read.commit();
            return found;
        }
        if (state == SameBookIndex::State::Stale && connection.sameBookIndex()) {
            read.commit();
            // Brought up to date (one pass over the table) in a transaction
            // of its own, and asked in the same one. A file that cannot be
            // written now (read-only, locked, full) is read whole instead.
            try {
                SameBooks found;
                connection.writeTransaction(what, [&] {
                    SameBookIndex &index = *connection.sameBookIndex();
                    if (!index.current())
                        index.rebuild(connection);
                    found = collect(connection, indexed, title, author, key, limit);
                });
                return found;
            } catch (const Error &) {
            }
        }
    }
    // Every book compared, as they lie in the table.
    return collect(connection,
                   QStringLiteral("SELECT [%1] FROM %2 WHERE [%3] IS NOT NULL "
                                  "AND bukurea_same_book([%3], [%4], ?1, ?2)")
                       .arg(f[0], tableName(), f[1], f[2]),
                   title, author, key, limit);
}

} // namespace store
