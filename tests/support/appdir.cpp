#include "support/appdir.h"

#include "store/booktable.h"
#include "store/module1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

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

QList<Book> readRows(sqlite3 *db, const QString &where)
{
    QList<Book> out;
    sqlite3_stmt *st = nullptr;
    const QString sql = QStringLiteral("SELECT * FROM %1 %2 ORDER BY rowid").arg(store::tableName(), where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where);
    if (sqlite3_prepare16_v2(db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK)
        qFatal("%s", sqlite3_errmsg(db));
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

} // namespace

AppDir::AppDir()
{
    Db(dbPath()).exec(store::createTableStatement());
    Module1::setApplicationDirectory(path());
}

AppDir::~AppDir() { Module1::setApplicationDirectory(QString()); }

void AppDir::exec(const QString &sql) const { execOn(dbPath(), sql); }

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

QList<Book> AppDir::rows(const QString &where) const { return readRows(Db(dbPath()).db, where); }

QList<Book> rowsOf(const QString &dbPath)
{
    // Opening a missing file would create it.
    if (!QFileInfo(dbPath).isFile())
        qFatal("no file %s", qPrintable(dbPath));
    return readRows(Db(dbPath).db, QString());
}

void execOn(const QString &dbPath, const QString &sql) { Db(dbPath).exec(sql); }

int AppDir::count() const { return int(rows().size()); }

FileLock::FileLock(const QString &path)
{
    sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        qFatal("cannot lock %s", qPrintable(path));
}

FileLock::~FileLock() { sqlite3_close_v2(m_db); } // closing drops the lock

namespace {

// Mounts made by the tests stay inside the test process.
bool ownMountNamespace()
{
    static const bool ok = geteuid() == 0 && unshare(CLONE_NEWNS) == 0
        && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ok;
}

} // namespace

FaultyFolder::FaultyFolder(const QString &path, Kind kind) : m_path(path), m_kind(kind)
{
    QDir().mkpath(path);
    if (ownMountNamespace()) {
        // 64 KB hold a few small files but no copy of a real collection.
        const char *size = kind == Full ? "size=64k" : "size=4m";
        m_mounted = mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, size) == 0;
        m_available = m_mounted;
    } else {
        // Permissions stop anyone but root.
        m_available = kind == ReadOnly && geteuid() != 0;
    }
}

FaultyFolder::~FaultyFolder()
{
    if (m_mounted)
        umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    else
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void FaultyFolder::seal()
{
    if (m_kind != ReadOnly)
        return;
    if (m_mounted)
        mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr);
    else
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ExeOwner);
}

} // namespace testsupport

char *toString(const testsupport::Book &book)
{
    QStringList fields;
    for (const auto &f : book)
        fields << (f ? u'"' + *f + u'"' : QStringLiteral("NULL"));
    return qstrdup(fields.join(u',').toUtf8().constData());
}
