#include "store/samebook.h"

#include "store/booktable.h"
#include "store/connection.h"
#include "store/like.h"

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
                sqlite3_set_auxdata(ctx, 2 + k, fresh.release(), [](void *d) { delete static_cast<std::u32string *>(d); });
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

} // namespace

SameBooks findSameBooks(const Connection &connection, const QString &title, const QString &author, int limit)
{
    SameBooks found;
    if (foldWithoutBlanks(title).empty())
        return found;
    const QString what = QStringLiteral("同じ本が登録されているかどうかを調べられませんでした。");
    if (sqlite3_create_function_v2(connection.handle(), "bukurea_same_book", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, sameBookFunction, nullptr, nullptr, nullptr)
        != SQLITE_OK)
        connection.fail(what);
    const QStringList &f = fieldNames();
    // A title missing from a row is no match, and the cheaper test goes first.
    const QString sql = QStringLiteral("SELECT %1 FROM %2 WHERE %3 IS NOT NULL AND bukurea_same_book(%3, %4, ?1, ?2)")
                            .arg(f[0], tableName(), f[1], f[2]);
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare16_v2(connection.handle(), sql.utf16(), -1, &prepared, nullptr) != SQLITE_OK)
        connection.fail(what);
    Prepared st(prepared);
    bindText(st.get(), 1, title);
    bindText(st.get(), 2, author);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        if (found.count++ < limit)
            found.numbers << columnText(st.get(), 0);
    }
    if (rc != SQLITE_DONE)
        connection.fail(what);
    return found;
}

} // namespace store
