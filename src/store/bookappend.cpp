#include "store/bookappend.h"

#include "store/error.h"
#include "store/fieldvalue.h"

#include <sqlite3.h>

namespace store {

qint64 appendBooks(Connection &connection, const std::function<bool(BookTexts &)> &next)
{
    const QString what = QStringLiteral("データを取り込めませんでした。");
    QStringList columns, marks;
    for (int i = 0; i < FieldCount; ++i) {
        columns << u'[' + fieldNames()[i] + u']';
        marks << QStringLiteral("?%1").arg(i + 1);
    }
    const QString sql =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(tableName(), columns.join(u','), marks.join(u','));
    qint64 added = 0;
    connection.writeTransaction(what, [&] {
        Prepared insert(connection.prepare(sql));
        sqlite3_stmt *st = insert.get();
        BookTexts book;
        while (next(book)) {
            for (int i = 0; i < FieldCount; ++i) {
                const QString &text = book[size_t(i)];
                if (text.isEmpty()) {
                    sqlite3_bind_null(st, i + 1);
                    continue;
                }
                const Affinity affinity = connection.affinity(i);
                if (affinity == Affinity::Text || affinity == Affinity::None) {
                    bindText(st, i + 1, text);
                    continue;
                }
                const std::optional<FieldValue> v = fieldValue(text, affinity);
                if (!v) {
                    throw fileError(
                        what, connection.path(),
                        QStringLiteral("「%1」は項目「%2」に正確に入れられない数値です").arg(text, fieldNames()[i]));
                }
                switch (v->kind) {
                case FieldValue::Kind::Integer: sqlite3_bind_int64(st, i + 1, v->integer); break;
                case FieldValue::Kind::Real: sqlite3_bind_double(st, i + 1, v->real); break;
                case FieldValue::Kind::Text: bindText(st, i + 1, text); break;
                }
            }
            if (sqlite3_step(st) != SQLITE_DONE)
                connection.fail(what);
            sqlite3_reset(st);
            ++added;
        }
    });
    // How many books the write adds is known only once it is done, so the
    // kept count is dropped rather than adjusted.
    connection.forgetCount();
    return added;
}

} // namespace store
