#include "support/appdir.h"

#include "store/booktable.h"
#include "store/module1.h"

#include <sqlite3.h>

namespace testsupport {

Book book(std::initializer_list<const char *> fields)
{
    Book b;
    for (const char *f : fields)
        b << (f ? std::optional<QString>(QString::fromUtf8(f)) : std::nullopt);
    while (b.size() < 9)
        b << std::nullopt;
    return b;
}

namespace {

struct Db {
    explicit Db(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr))
            qFatal("cannot open %s", qPrintable(path));
    }
    ~Db() { sqlite3_close(db); }
    void exec(const QString &sql) const
    {
        char *err = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK)
            qFatal("%s: %s", qPrintable(sql), err);
    }
    sqlite3 *db = nullptr;
};

} // namespace

AppDir::AppDir()
{
    Db(dbPath()).exec(store::createTableStatement());
    Module1::setApplicationDirectory(path());
}

AppDir::~AppDir() { Module1::setApplicationDirectory(QString()); }

void AppDir::exec(const QString &sql) const { Db(dbPath()).exec(sql); }

void AppDir::insert(const QList<Book> &books) const
{
    Db d(dbPath());
    d.exec(QStringLiteral("BEGIN"));
    sqlite3_stmt *st = nullptr;
    const QString insert = QStringLiteral("INSERT INTO %1 VALUES (?,?,?,?,?,?,?,?,?)").arg(store::tableName());
    sqlite3_prepare16_v2(d.db, insert.utf16(), -1, &st, nullptr);
    for (const Book &b : books) {
        for (int i = 0; i < 9; ++i) {
            if (b.value(i))
                sqlite3_bind_text16(st, i + 1, b[i]->utf16(), int(b[i]->size() * 2), SQLITE_TRANSIENT);
            else
                sqlite3_bind_null(st, i + 1);
        }
        if (sqlite3_step(st) != SQLITE_DONE)
            qFatal("insert failed: %s", sqlite3_errmsg(d.db));
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    d.exec(QStringLiteral("COMMIT"));
}

QList<Book> AppDir::rows(const QString &where) const
{
    Db d(dbPath());
    QList<Book> out;
    sqlite3_stmt *st = nullptr;
    const QString sql = QStringLiteral("SELECT * FROM %1 %2 ORDER BY rowid").arg(store::tableName(), where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where);
    if (sqlite3_prepare16_v2(d.db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK)
        qFatal("%s", sqlite3_errmsg(d.db));
    while (sqlite3_step(st) == SQLITE_ROW) {
        Book b;
        for (int i = 0; i < 9; ++i) {
            if (sqlite3_column_type(st, i) == SQLITE_NULL)
                b << std::nullopt;
            else
                b << QString(reinterpret_cast<const QChar *>(sqlite3_column_text16(st, i)), sqlite3_column_bytes16(st, i) / 2);
        }
        out << b;
    }
    sqlite3_finalize(st);
    return out;
}

int AppDir::count() const { return int(rows().size()); }

} // namespace testsupport

char *toString(const testsupport::Book &book)
{
    QStringList fields;
    for (const auto &f : book)
        fields << (f ? u'"' + *f + u'"' : QStringLiteral("NULL"));
    return qstrdup(fields.join(u',').toUtf8().constData());
}
