#include "store/booktable.h"

namespace store {

const QString &tableName()
{
    static const QString name = QStringLiteral("tabel");
    return name;
}

const QStringList &fieldNames()
{
    static const QStringList names = {
        QStringLiteral("蔵書番号"), QStringLiteral("書名"),   QStringLiteral("著者名"),
        QStringLiteral("出版社"),   QStringLiteral("出版年"), QStringLiteral("分類"),
        QStringLiteral("保管場所"), QStringLiteral("貸出"),   QStringLiteral("キーワード"),
    };
    return names;
}

QString fieldName(Field field) { return fieldNames().value(int(field)); }

const QString &createTableStatement()
{
    // The collection number and the year are numbers, so they sort as
    // numbers; every other field is text.
    static const QString sql = [] {
        QStringList columns;
        for (int f = 0; f < FieldCount; ++f) {
            const bool number = Field(f) == Field::Number || Field(f) == Field::Year;
            columns << fieldNames()[f] + (number ? QStringLiteral(" INTEGER") : QStringLiteral(" TEXT"));
        }
        return QStringLiteral("CREATE TABLE %1 (%2);").arg(tableName(), columns.join(QStringLiteral(", ")));
    }();
    return sql;
}

} // namespace store
