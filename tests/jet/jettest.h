#pragma once

#include "store/accessstream.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// What the Access conversion tests share: the Jet files, their expected
// rows, and readers of what a conversion produced.
namespace jettest {

// A file of tests/jet/fixtures.
QString fixture(const QString &name);
QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);
// The expected rows of a fixture, one JSON object a line.
QList<QJsonObject> expectedRows(const QString &jsonlName);
// The programs beside the tests in the build directory.
QString program(const QString &name);

// A cell as read back: its kind and value (for SQLite: INTEGER qlonglong,
// REAL double, TEXT QString, BLOB QByteArray, NULL invalid).
struct Table {
    QStringList columns;
    QStringList declaredTypes; // SQLite only
    QList<QList<QVariant>> rows;
    QList<QList<store::access::Kind>> kinds; // the reader's stream only
};

// The book table of an SQLite file, in rowid order.
Table readDatabase(const QString &path);
// What bukurea-jet streams for one table of an Access file; fails the test
// on a failure of the reader.
Table readAccess(const QString &path, const QString &table);

// True when a cell holds what the expected JSON value says, with the type
// it says: null is NULL, a string TEXT, an integral number INTEGER.
bool sameCell(const QJsonValue &expected, const QVariant &actual);

// The names in a folder, sorted.
QStringList entries(const QString &folder);

} // namespace jettest
