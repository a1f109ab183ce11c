#pragma once

#include <QString>
#include <QStringList>

// The one definition of the book table: its name, its nine fields in column
// order and the statement that creates it. The store, the database maker,
// the conversion of older files and the tests all take it from here.
namespace store {

inline constexpr int FieldCount = 9;

// The nine fields, in column order: a field's value is its column.
enum class Field { Number, Title, Author, Publisher, Year, Category, Place, Lending, Keywords };

// "tabel".
const QString &tableName();
// 蔵書番号, 書名, 著者名, 出版社, 出版年, 分類, 保管場所, 貸出, キーワード.
const QStringList &fieldNames();
// The name of one field; empty for a value outside the nine.
QString fieldName(Field field);
// CREATE TABLE tabel (...) with the nine fields and their types.
const QString &createTableStatement();

} // namespace store
