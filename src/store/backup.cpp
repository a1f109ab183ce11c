#include "store/backup.h"

#include "store/booktable.h"
#include "store/connection.h"
#include "store/durablefile.h"
#include "store/error.h"
#include "store/fileformat.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace store {

namespace {

std::function<QDateTime()> g_clock;

const QString &backupFailed()
{
    static const QString s = QStringLiteral("バックアップを作成できませんでした。");
    return s;
}
const QString &cannotRestoreFrom()
{
    static const QString s = QStringLiteral("このファイルからは復元できません。");
    return s;
}
const QString &restoreFailed()
{
    static const QString s = QStringLiteral("復元できませんでした。");
    return s;
}

[[noreturn]] void fail(const QString &what, const QString &path, const QString &cause)
{
    throw fileError(what, QDir::toNativeSeparators(path), cause);
}

QString busyCause() { return systemReason(EBUSY); }

// The cause of an SQLite failure; `systemErrno` is the system's own error
// behind it, where there is one. A file that is not a database where one
// is expected is a damaged one here.
QString causeOf(int code, int systemErrno)
{
    switch (code & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return damagedReason();
    case SQLITE_READONLY: return systemReason(systemErrno == EROFS ? EROFS : EACCES);
    default: return engineReason(code, systemErrno, QString());
    }
}

// Why a file cannot be read at all.
QString unreadableCause(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return systemReason(ENOENT);
    if (info.isDir())
        return systemReason(EISDIR);
    if (!info.isFile())
        return QStringLiteral("通常のファイルではありません");
    if (const int e = durable::openError(path))
        return systemReason(e);
    return QStringLiteral("ファイルを読めません");
}

struct SqliteFailure {
    int code;
    int systemErrno;
    bool atSource; // reading the source failed, not writing the copy
};

// Copies the database `from` into the empty file `to` with SQLite's online
// backup, which reads one consistent state of it even while other programs
// have it open. A file held by a writer is waited for up to `waitMs`.
std::optional<SqliteFailure> copyDatabase(const QString &from, const QString &to, int waitMs)
{
    sqlite3 *src = nullptr, *dst = nullptr;
    const auto closeBoth = qScopeGuard([&] {
        sqlite3_close_v2(dst);
        sqlite3_close_v2(src);
    });
    auto failure = [](sqlite3 *db, bool atSource) {
        return SqliteFailure{db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM, db ? sqlite3_system_errno(db) : 0,
                             atSource};
    };
    // Opened as any program using it opens it (read-write where allowed):
    // a change that a crash interrupted is rolled back before the copy is
    // taken, and the side files of a database in WAL mode are tidied away
    // when it is closed.
    if (sqlite3_open_v2(from.toUtf8().constData(), &src, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return failure(src, true);
    sqlite3_extended_result_codes(src, 1);
    sqlite3_busy_timeout(src, waitMs);
    // `to` is an empty temporary file made beforehand, not by SQLite, whose
    // fallback to a read-only open would hide why it could not be made.
    if (sqlite3_open_v2(to.toUtf8().constData(), &dst, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return failure(dst, false);
    sqlite3_extended_result_codes(dst, 1);
    // The copy is synced once it is complete; until it is renamed nobody
    // reads it, so it needs no journal of its own.
    if (sqlite3_exec(dst, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr)
        != SQLITE_OK)
        return failure(dst, false);
    sqlite3_backup *backup = sqlite3_backup_init(dst, "main", src, "main");
    if (!backup)
        return failure(dst, false);
    // All pages in one step: the source is read under one lock, so the copy
    // is one state of it.
    const QDeadlineTimer deadline(waitMs);
    int rc;
    for (;;) {
        rc = sqlite3_backup_step(backup, -1);
        const bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
        if (busy && !deadline.hasExpired()) {
            QThread::msleep(20);
            continue;
        }
        if (rc != SQLITE_OK)
            break;
    }
    sqlite3_backup_finish(backup);
    if (rc == SQLITE_DONE) {
        // A copy of a database in WAL mode is in that mode too; it is turned
        // back to the rollback journal that the collection uses, so that it
        // is one self-contained file.
        sqlite3_stmt *mode = nullptr;
        sqlite3_prepare_v2(dst, "PRAGMA journal_mode", -1, &mode, nullptr);
        const bool wal = sqlite3_step(mode) == SQLITE_ROW
                         && qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(mode, 0)), "wal") == 0;
        sqlite3_finalize(mode);
        if (wal && sqlite3_exec(dst, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return failure(dst, false);
        return std::nullopt;
    }
    const int primary = rc & 0xff;
    const bool atSource = primary == SQLITE_BUSY || primary == SQLITE_LOCKED || primary == SQLITE_NOTADB
                          || primary == SQLITE_CORRUPT || rc == SQLITE_IOERR_READ || rc == SQLITE_IOERR_SHORT_READ;
    return SqliteFailure{rc, sqlite3_system_errno(atSource ? src : dst), atSource};
}

// True when `head`, the first bytes of a database, says the database is
// exactly `size` bytes long: its page size times the page count its header
// records (where that count is valid, as every writer since 2010 keeps it).
bool headerMatchesSize(const QByteArray &head, qint64 size)
{
    if (head.size() < 100 || !head.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return false;
    const auto u32 = [&](int at) {
        return quint32(uchar(head[at])) << 24 | quint32(uchar(head[at + 1])) << 16 | quint32(uchar(head[at + 2])) << 8
               | quint32(uchar(head[at + 3]));
    };
    const quint32 rawPageSize = quint32(uchar(head[16])) << 8 | quint32(uchar(head[17]));
    const qint64 pageSize = rawPageSize == 1 ? 65536 : rawPageSize;
    if (u32(24) != u32(92) || pageSize < 512)
        return false;
    return pageSize * qint64(u32(28)) == size;
}

// The descriptor under SQLite's handle of a database file. SQLite has no
// call that hands it out; its Unix layer keeps it in its file object right
// after three pointers (the methods, the layer, the file's lock record), as
// it has since 2008. What lies there is used only when it is an open
// descriptor of the very file at `path` (the same device and inode);
// otherwise -1.
int sqliteDescriptor(sqlite3 *db, sqlite3_file *file, const QString &path)
{
    sqlite3_vfs *vfs = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_VFS_POINTER, &vfs) != SQLITE_OK || !vfs || !vfs->zName
        || qstrncmp(vfs->zName, "unix", 4) != 0)
        return -1;
    struct UnixFile {
        const sqlite3_io_methods *methods;
        sqlite3_vfs *vfs;
        void *inode;
        int descriptor;
    };
    const auto *unixFile = reinterpret_cast<const UnixFile *>(file);
    if (unixFile->vfs != vfs || !durable::isDescriptorOf(unixFile->descriptor, path))
        return -1;
    return unixFile->descriptor;
}

// Copies the bytes of the database `from` into `to` while a read
// transaction on it keeps every writer out: in rollback-journal mode no
// change reaches the file while any reader holds its shared lock, so the
// bytes are one consistent state, copied by the kernel at the speed of the
// disk. The bytes are read through SQLite's own descriptor of the file:
// opening another one and closing it would drop every lock this process
// holds on the file (POSIX locks belong to the process), the application's
// own connections' included. The copy is checked before the lock ends: as
// long as the file, with the same header, which gives the same length.
// `done` stays false where this way does not apply (a database in WAL
// mode, whose changes lie in the log; a damaged one; a header that does
// not match the file's length; no descriptor to read): the caller copies
// otherwise then. A file held by a writer is waited for up to `waitMs`.
std::optional<SqliteFailure> copyUnderReadLock(const QString &from, durable::TempFile &to, int waitMs, bool &done)
{
    done = false;
    sqlite3 *db = nullptr;
    const auto close = qScopeGuard([&] { sqlite3_close_v2(db); });
    auto failure = [&](bool atSource) {
        return SqliteFailure{sqlite3_extended_errcode(db), sqlite3_system_errno(db), atSource};
    };
    // Opened read-write, as by any program using it: a change that a crash
    // interrupted is rolled back before the first read.
    if (sqlite3_open_v2(from.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return std::nullopt; // the online backup tells why
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, waitMs);
    auto stepOne = [&](const char *sql, QByteArray *text) {
        sqlite3_stmt *st = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW && text)
                *text = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        }
        sqlite3_finalize(st);
        return rc;
    };
    QByteArray mode;
    int rc = stepOne("PRAGMA journal_mode", &mode);
    if (rc != SQLITE_ROW || mode == "wal")
        return std::nullopt;
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::nullopt;
    // The first read takes the shared lock, which holds until the end.
    rc = stepOne("SELECT count(*) FROM sqlite_master", nullptr);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
        return failure(true);
    if (rc != SQLITE_ROW)
        return std::nullopt;
    const auto endRead = qScopeGuard([&] { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); });
    sqlite3_file *file = mainFileHandle(db);
    if (!file)
        return std::nullopt;
    sqlite3_int64 size = 0;
    QByteArray head(100, '\0');
    if (file->pMethods->xFileSize(file, &size) != SQLITE_OK || size < head.size()
        || file->pMethods->xRead(file, head.data(), int(head.size()), 0) != SQLITE_OK || !headerMatchesSize(head, size))
        return std::nullopt;
    const int descriptor = sqliteDescriptor(db, file, from);
    if (descriptor < 0)
        return std::nullopt;
    bool atSource = false;
    if (const int e = to.copyFrom(descriptor, size, atSource))
        return SqliteFailure{atSource ? SQLITE_IOERR_READ : SQLITE_IOERR_WRITE, e, atSource};
    QByteArray copied(head.size(), '\0');
    if (const int e = to.readBack(copied.data(), copied.size(), 0))
        return SqliteFailure{SQLITE_IOERR_READ, e, false};
    done = copied == head && to.size() == size;
    return std::nullopt;
}

// The backups, oldest first by the time each was made: a name may lie
// (the clock set back, or a later second taken because the name of the
// current one was in use), the file's own time does not. Its birth time
// where the file system keeps one, else the time it was last written,
// which for a backup is when it was made.
QStringList byCreation(QStringList files)
{
    std::vector<std::pair<qint64, QString>> keyed;
    for (const QString &f : files) {
        const QFileInfo info(f);
        const QDateTime born = info.birthTime();
        keyed.emplace_back((born.isValid() ? born : info.lastModified()).toMSecsSinceEpoch(), f);
    }
    std::stable_sort(keyed.begin(), keyed.end());
    files.clear();
    for (const auto &k : keyed)
        files << k.second;
    return files;
}

// Keeps other programs from writing to a collection while it is replaced:
// holds its write lock from before the last backup until after the rename.
class WriterLock {
public:
    // Throws when another program keeps the file busy; a file that SQLite
    // cannot open at all (a damaged one) is simply not locked.
    WriterLock(const QString &path, int waitMs)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            return;
        sqlite3_busy_timeout(m_db, waitMs);
        // Opening the file rolls back a change that a crash interrupted, and
        // leaving WAL mode writes the log back into it: afterwards nothing
        // of it lies in a side file that the new file could be taken to own.
        for (const char *sql : {"PRAGMA journal_mode = DELETE", "BEGIN IMMEDIATE"}) {
            const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
            if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
                sqlite3_close_v2(m_db);
                fail(restoreFailed(), path, busyCause());
            }
        }
    }
    ~WriterLock() { sqlite3_close_v2(m_db); } // closing ends the transaction; nothing was written
    WriterLock(const WriterLock &) = delete;
    WriterLock &operator=(const WriterLock &) = delete;

private:
    sqlite3 *m_db = nullptr;
};

} // namespace

Backups::Backups(const QString &databasePath) : Backups(databasePath, Options()) {}

Backups::Backups(const QString &databasePath, Options options)
    : m_databasePath(QFileInfo(databasePath).absoluteFilePath()), m_options(std::move(options))
{
    m_options.kept = std::max(1, m_options.kept);
}

void Backups::setClock(std::function<QDateTime()> clock) { g_clock = std::move(clock); }

QDateTime Backups::now() const
{
    if (m_options.now)
        return m_options.now();
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

QString Backups::folder() const { return QFileInfo(m_databasePath).absolutePath() + QStringLiteral("/backup"); }

QString Backups::nameFor(const QDateTime &time) const
{
    return QFileInfo(m_databasePath).completeBaseName() + u'-' + time.toString(QStringLiteral("yyyyMMdd-HHmmss"))
           + QStringLiteral(".mdb");
}

QStringList Backups::files() const
{
    const QRegularExpression name(QStringLiteral("^%1-\\d{8}-\\d{6}\\.mdb$")
                                      .arg(QRegularExpression::escape(QFileInfo(m_databasePath).completeBaseName())));
    QStringList out;
    const QDir dir(folder());
    // The time in the name sorts the backups oldest first. A link is no
    // backup of ours, whatever its name.
    for (const QString &f : dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Name)) {
        if (name.match(f).hasMatch())
            out << dir.filePath(f);
    }
    return out;
}

bool Backups::dueToday() const
{
    const QString name = nameFor(now());
    const QString today = name.left(name.lastIndexOf(u'-') + 1); // "BR-20240131-"
    for (const QString &f : files()) {
        if (QFileInfo(f).fileName().startsWith(today))
            return false;
    }
    return true;
}

QString Backups::make() { return makeSparing(QString()); }

QString Backups::makeIfDue() { return dueToday() ? make() : QString(); }

QString Backups::makeSparing(const QString &spared)
{
    const FileFormat format = detectFileFormat(m_databasePath);
    if (format == FileFormat::Unreadable)
        fail(backupFailed(), m_databasePath, unreadableCause(m_databasePath));

    const QString dir = folder();
    // Rotation removes files in this folder: through a link it would remove
    // files somewhere else, perhaps another collection's.
    if (durable::isSymLink(dir))
        fail(backupFailed(), dir, QStringLiteral("フォルダーが別の場所へのシンボリック リンクなので使えません"));
    if (!QFileInfo(dir).isDir()) {
        if (const int e = durable::makeFolder(dir)) {
            fail(backupFailed(), dir,
                 e == EEXIST || e == ENOTDIR ? QStringLiteral("同じ名前のファイルがあってフォルダーを作れません")
                                             : systemReason(e));
        }
    }
    durable::removeStaleTemporaries(dir);

    QDateTime time = now();
    auto failWriting = [&](int e) { fail(backupFailed(), dir + u'/' + nameFor(time), systemReason(e)); };
    auto failSqlite = [&](const SqliteFailure &f) {
        fail(backupFailed(), f.atSource ? m_databasePath : dir + u'/' + nameFor(time), causeOf(f.code, f.systemErrno));
    };
    std::optional<durable::TempFile> temp(std::in_place, dir + u'/' + nameFor(time));
    if (const int e = temp->error())
        failWriting(e);

    bool copied = false;
    if (format == FileFormat::Sqlite) {
        if (const auto f = copyUnderReadLock(m_databasePath, *temp, m_options.busyWaitMs, copied))
            failSqlite(*f);
        m_lastCopy = Copy::FileBytes;
    }
    if (format == FileFormat::Sqlite && !copied) {
        // Not copied as a file: through SQLite's online backup instead.
        temp.emplace(dir + u'/' + nameFor(time));
        if (const int e = temp->error())
            failWriting(e);
        temp->closeHandle();
        if (const auto f = copyDatabase(m_databasePath, temp->path(), m_options.busyWaitMs)) {
            const int primary = f->code & 0xff;
            // A damaged collection is still kept as it is, byte for byte.
            if (!(f->atSource && (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)))
                failSqlite(*f);
            temp.emplace(dir + u'/' + nameFor(time));
            if (const int e = temp->error())
                failWriting(e);
        } else {
            copied = true;
            m_lastCopy = Copy::OnlineBackup;
        }
    }
    // Any other file (an Access file before its conversion, a damaged one)
    // is copied as it is.
    if (!copied) {
        bool atSource = false;
        if (const int e = temp->copyFrom(m_databasePath, atSource)) {
            if (atSource)
                fail(backupFailed(), m_databasePath, systemReason(e));
            failWriting(e);
        }
        m_lastCopy = Copy::AsIs;
    }

    // Two backups in the same second (a restore right after another) must
    // not replace each other: the later one takes the next free second.
    QString final;
    for (;;) {
        final = dir + u'/' + nameFor(time);
        const int e = temp->commitAs(final, durable::Replace::Never);
        if (e == 0)
            break;
        if (e != EEXIST)
            failWriting(e);
        time = time.addSecs(1);
    }
    prune(final, spared);
    return final;
}

void Backups::prune(const QString &made, const QString &spared) const
{
    // The backup just made is one of those kept, whatever its date (the
    // clock may have been set back); a spared one does not count.
    QStringList others = byCreation(files());
    others.removeAll(made);
    // The spared file may be named through another path (a link, "..").
    const QString sparedFile = spared.isEmpty() ? QString() : QFileInfo(spared).canonicalFilePath();
    others.removeIf(
        [&](const QString &f) { return !sparedFile.isEmpty() && QFileInfo(f).canonicalFilePath() == sparedFile; });
    // A backup that cannot be removed stays; the new one is complete anyway.
    for (qsizetype i = 0; i < others.size() + 1 - m_options.kept; ++i)
        durable::remove(others[i]);
}

QString Backups::restore(const QString &file)
{
    const QString source = QFileInfo(file).absoluteFilePath();
    switch (detectFileFormat(source)) {
    case FileFormat::Unreadable: fail(cannotRestoreFrom(), source, unreadableCause(source));
    case FileFormat::Empty: fail(cannotRestoreFrom(), source, QStringLiteral("空のファイルです"));
    case FileFormat::Jet3:
    case FileFormat::Jet4: fail(cannotRestoreFrom(), source, QStringLiteral("Access 形式のファイルです"));
    case FileFormat::Other: fail(cannotRestoreFrom(), source, QStringLiteral("データベース ファイルではありません"));
    case FileFormat::Sqlite: break;
    }

    // A collection reached through a link is restored into the file the
    // link points to; the link stays as the user made it.
    const QString target = durable::followLinks(m_databasePath);
    const QFileInfo db(target);
    // The copy that will take the collection's place is made first, beside
    // it, and checked: what is checked is exactly what is put in place.
    durable::removeStaleTemporaries(db.absolutePath());
    durable::TempFile temp(target);
    if (const int e = temp.error())
        fail(restoreFailed(), m_databasePath, systemReason(e));
    temp.closeHandle();
    if (const auto f = copyDatabase(source, temp.path(), m_options.busyWaitMs)) {
        if (f->atSource)
            fail(cannotRestoreFrom(), source, causeOf(f->code, f->systemErrno));
        fail(restoreFailed(), m_databasePath, causeOf(f->code, f->systemErrno));
    }
    checkCollection(temp.path(), source);
    temp.copyAttributesOf(target);
    if (const int e = temp.sync())
        fail(restoreFailed(), m_databasePath, systemReason(e));

    // From the backup of the current collection to the rename, no other
    // program may write to it: such a change would be in neither file.
    std::optional<WriterLock> lock;
    QString backup;
    if (db.exists()) {
        if (detectFileFormat(target) == FileFormat::Sqlite)
            lock.emplace(target, m_options.busyWaitMs);
        // The file being restored may itself be the oldest backup: it stays.
        backup = makeSparing(source);
    }
    // What is left of a journal or log now belongs to no readable file (the
    // collection was damaged); beside the new file it would be applied to it.
    for (const char *side : {"-journal", "-wal", "-shm"})
        durable::remove(target + QLatin1String(side));
    if (const int e = temp.commit(durable::Replace::Existing))
        fail(restoreFailed(), m_databasePath, systemReason(e));
    return backup;
}

void checkCollection(const QString &file, const QString &shownAs)
{
    {
        sqlite3 *db = nullptr;
        const auto close = qScopeGuard([&] { sqlite3_close_v2(db); });
        auto failSqlite = [&] {
            fail(cannotRestoreFrom(), shownAs, causeOf(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
        };
        if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            failSqlite();
        // Every row of every table readable, every index consistent.
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &st, nullptr) != SQLITE_OK)
            failSqlite();
        const auto finalize = qScopeGuard([st] { sqlite3_finalize(st); });
        if (sqlite3_step(st) != SQLITE_ROW)
            failSqlite();
        if (qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)), "ok") != 0)
            fail(cannotRestoreFrom(), shownAs, damagedReason());
    }
    // Then exactly the check the program makes when it opens a collection:
    // the book table, its fields, and how its rows are told apart.
    try {
        Connection::open(file);
    } catch (const Error &e) {
        fail(cannotRestoreFrom(), shownAs, e.reason().isEmpty() ? e.message().section(u'\n', 0, 0) : e.reason());
    }
}

} // namespace store
