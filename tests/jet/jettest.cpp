#include "jettest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <sqlite3.h>

namespace jettest {

QString fixture(const QString &name) { return QString::fromLocal8Bit(qgetenv("BUKUREA_JET_FIXTURES")) + u'/' + name; }

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QList<QJsonObject> expectedRows(const QString &jsonlName)
{
    QList<QJsonObject> rows;
    for (const QByteArray &line : readFile(fixture(jsonlName)).split('\n')) {
        if (!line.trimmed().isEmpty())
            rows << QJsonDocument::fromJson(line).object();
    }
    return rows;
}

QString program(const QString &name) { return QCoreApplication::applicationDirPath() + u'/' + name; }

Table readDatabase(const QString &path)
{
    Table t;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        qFatal("cannot open %s", qPrintable(path));
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA table_info(tabel)", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        t.columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 1)));
        t.declaredTypes << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 2)));
    }
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, "SELECT * FROM tabel ORDER BY rowid", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        QList<QVariant> row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            switch (sqlite3_column_type(st, i)) {
            case SQLITE_INTEGER: row << QVariant(qlonglong(sqlite3_column_int64(st, i))); break;
            case SQLITE_FLOAT: row << QVariant(sqlite3_column_double(st, i)); break;
            case SQLITE_TEXT:
                row << QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)),
                                                  sqlite3_column_bytes(st, i)));
                break;
            case SQLITE_BLOB:
                row << QVariant(
                    QByteArray(static_cast<const char *>(sqlite3_column_blob(st, i)), sqlite3_column_bytes(st, i)));
                break;
            default: row << QVariant();
            }
        }
        t.rows << row;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return t;
}

namespace {

class Collector : public store::AccessStreamParser::Handler {
public:
    explicit Collector(Table &t) : m_t(t) {}
    void columns(const std::vector<store::AccessColumn> &columns, quint64) override
    {
        for (const auto &c : columns)
            m_t.columns << c.name;
    }
    void row(const std::vector<store::AccessValue> &values) override
    {
        using store::access::Kind;
        QList<QVariant> row;
        QList<Kind> kinds;
        for (const auto &v : values) {
            kinds << v.kind;
            switch (v.kind) {
            case Kind::Null: row << QVariant(); break;
            case Kind::Integer: row << QVariant(qlonglong(v.integer)); break;
            case Kind::Real: row << QVariant(v.real); break;
            case Kind::Blob: row << QVariant(v.bytes.toByteArray()); break;
            default: row << QVariant(QString::fromUtf8(v.bytes));
            }
        }
        m_t.rows << row;
        m_t.kinds << kinds;
    }

private:
    Table &m_t;
};

} // namespace

Table readAccess(const QString &path, const QString &table)
{
    QProcess reader;
    reader.start(program(QStringLiteral("bukurea-jet")), {QStringLiteral("--table"), table, path});
    if (!reader.waitForFinished(60000))
        qFatal("the reader did not finish");
    Table t;
    Collector collect(t);
    store::AccessStreamParser parser(collect);
    try {
        parser.feed(reader.readAllStandardOutput());
        parser.finish();
    } catch (const store::AccessStreamError &e) {
        qFatal("reading %s: %s", qPrintable(path), qPrintable(e.detail));
    }
    return t;
}

bool sameCell(const QJsonValue &expected, const QVariant &actual)
{
    if (expected.isNull())
        return !actual.isValid();
    if (expected.isString())
        return actual.typeId() == QMetaType::QString && actual.toString() == expected.toString();
    if (expected.isDouble())
        return actual.typeId() == QMetaType::LongLong && double(actual.toLongLong()) == expected.toDouble();
    if (expected.isBool())
        return actual.typeId() == QMetaType::LongLong && actual.toLongLong() == (expected.toBool() ? 1 : 0);
    return false;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace jettest
