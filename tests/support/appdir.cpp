#include "support/appdir.h"

#include "store/booktable.h"
#include "store/connection.h"
#include "store/module1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

// A locked file is waited for briefly in the tests: long enough to see a
// wait, short enough to keep every test quick.
static void shortenBusyWait() { store::BusyWait::setLimit(std::chrono::milliseconds(250)); }
Q_COREAPP_STARTUP_FUNCTION(shortenBusyWait)

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

// Text in and out as UTF-8 bytes, character for character (the engine's
// UTF-16 interface changes some characters).
void bindExactly(sqlite3_stmt *st, int index, const QString &text)
{
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QByteArray utf8 = encoder.encode(text);
    sqlite3_bind_text(st, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString exactText(sqlite3_stmt *st, int column)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(reinterpret_cast<const char *>(sqlite3_column_text(st, column)),
                                         sqlite3_column_bytes(st, column)));
}

QList<Book> readRows(sqlite3 *db, const QString &where)
{
    QList<Book> out;
    sqlite3_stmt *st = nullptr;
    const QString sql = QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY _rowid_")
                            .arg(store::fieldNames().join(u','), store::tableName(),
                                 where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where);
    if (sqlite3_prepare16_v2(db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK)
        qFatal("%s", sqlite3_errmsg(db));
    while (sqlite3_step(st) == SQLITE_ROW) {
        Book b;
        for (int i = 0; i < 9; ++i) {
            if (sqlite3_column_type(st, i) == SQLITE_NULL)
                b << std::nullopt;
            else
                b << exactText(st, i);
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
    store::setApplicationDirectory(path());
}

AppDir::~AppDir() { store::setApplicationDirectory(QString()); }

void AppDir::exec(const QString &sql) const { execOn(dbPath(), sql); }

void AppDir::insert(const QList<Book> &books) const
{
    Db d(dbPath());
    d.exec(QStringLiteral("BEGIN"));
    sqlite3_stmt *st = nullptr;
    const QString insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (?,?,?,?,?,?,?,?,?)")
                               .arg(store::tableName(), store::fieldNames().join(u','));
    sqlite3_prepare16_v2(d.db, insert.utf16(), -1, &st, nullptr);
    for (const Book &b : books) {
        for (int i = 0; i < 9; ++i) {
            if (b.value(i))
                bindExactly(st, i + 1, *b[i]);
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

int AppDir::pageSize() const
{
    Db d(dbPath());
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(d.db, "PRAGMA page_size", -1, &st, nullptr);
    sqlite3_step(st);
    const int size = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    return size;
}

void AppDir::truncateFile(qint64 size) const
{
    if (!QFile::resize(dbPath(), size))
        qFatal("cannot truncate %s", qPrintable(dbPath()));
}

void AppDir::scramble(qint64 offset, qint64 size, quint32 seed) const
{
    QFile f(dbPath());
    if (!f.open(QIODevice::ReadWrite) || !f.seek(offset))
        qFatal("cannot open %s", qPrintable(dbPath()));
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(random.bounded(256));
    f.write(bytes);
}

FileLock::FileLock(const QString &path)
{
    sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        qFatal("cannot lock %s", qPrintable(path));
}

FileLock::~FileLock()
{
    if (m_releaser.joinable())
        m_releaser.join();
    release();
}

void FileLock::release()
{
    sqlite3_close_v2(m_db); // closing rolls the lock back
    m_db = nullptr;
}

void FileLock::releaseAfter(std::chrono::milliseconds delay)
{
    m_releaser = std::thread([this, delay] {
        std::this_thread::sleep_for(delay);
        release();
    });
}

namespace {

// Mounts made by the tests stay inside the test process.
bool ownMountNamespace()
{
    static const bool ok =
        geteuid() == 0 && unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
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
