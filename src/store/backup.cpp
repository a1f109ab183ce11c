#include "store/backup.h"

#include "store/booktable.h"
#include "store/error.h"
#include "store/fileformat.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
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
    throw Error(QStringLiteral("%1\n%2\n(%3)").arg(what, QDir::toNativeSeparators(path), cause));
}

QString busyCause() { return QStringLiteral("ファイルは他のプログラムが使用中です"); }
QString damagedCause() { return QStringLiteral("ファイルが壊れています"); }

QString causeOfErrno(int e)
{
    switch (e) {
    case ENOSPC:
    case EDQUOT: return QStringLiteral("ディスクの空き容量が足りません");
    case EACCES:
    case EPERM: return QStringLiteral("アクセスする権限がありません");
    case EROFS: return QStringLiteral("読み取り専用の場所には書き込めません");
    case ENOENT: return QStringLiteral("見つかりません");
    case EEXIST:
    case ENOTDIR: return QStringLiteral("同じ名前のファイルがあってフォルダーを作れません");
    case EISDIR: return QStringLiteral("ファイルではなくフォルダーです");
    case EBUSY:
    case ETXTBSY: return busyCause();
    case EFBIG: return QStringLiteral("ファイルが大きすぎます");
    case EIO: return QStringLiteral("装置の読み書きに失敗しました");
    default: return QString::fromLocal8Bit(std::strerror(e));
    }
}

// The cause of an SQLite failure; `systemErrno` is the system's own error
// behind it, where there is one.
QString causeOf(int code, int systemErrno)
{
    switch (code & 0xff) {
    case SQLITE_FULL: return causeOfErrno(ENOSPC);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return busyCause();
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return damagedCause();
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return causeOfErrno(systemErrno == EROFS ? EROFS : EACCES);
    default: break;
    }
    if (systemErrno != 0)
        return causeOfErrno(systemErrno);
    return QString::fromUtf8(sqlite3_errstr(code));
}

// Why a file cannot be read at all.
QString unreadableCause(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return causeOfErrno(ENOENT);
    if (info.isDir())
        return causeOfErrno(EISDIR);
    if (!info.isFile())
        return QStringLiteral("通常のファイルではありません");
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return causeOfErrno(errno);
    ::close(fd);
    return QStringLiteral("ファイルを読めません");
}

// Flushes a file, or a folder's list of names, to the disk. Returns 0 or errno.
int syncToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int rc = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return rc;
}

// Gives `from` the name `to` unless a file of that name exists (EEXIST).
// Returns 0 or errno.
int renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray f = QFile::encodeName(from), t = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system that cannot refuse by itself: look first.
    if (QFileInfo::exists(to))
        return EEXIST;
    return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
}

// Copies the bytes of `from` into the new file `to`. Returns 0 or errno;
// `atSource` tells whether reading failed rather than writing.
int copyBytes(const QString &from, const QString &to, bool &atSource)
{
    atSource = true;
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    const auto closeIn = qScopeGuard([in] { ::close(in); });
    atSource = false;
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0)
        return errno;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            atSource = true;
            const int e = errno;
            ::close(out);
            return e;
        }
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                const int e = errno;
                ::close(out);
                return e;
            }
            done += w;
        }
    }
    return ::close(out) == 0 ? 0 : errno;
}

struct SqliteFailure {
    int code;
    int systemErrno;
    bool atSource; // reading the source failed, not writing the copy
};

// Copies the database `from` into the new file `to` with SQLite's online
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
    // The file is made here rather than by SQLite, whose fallback to a
    // read-only open would hide why it could not be made.
    const int fd = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return SqliteFailure{SQLITE_CANTOPEN, errno, false};
    ::close(fd);
    if (sqlite3_open_v2(to.toUtf8().constData(), &dst, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return failure(dst, false);
    sqlite3_extended_result_codes(dst, 1);
    // The copy is synced once it is complete; until it is renamed nobody
    // reads it, so it needs no journal of its own.
    if (sqlite3_exec(dst, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr) != SQLITE_OK)
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

// A temporary file that is removed unless it was given its final name.
class TempFile {
public:
    explicit TempFile(QString path) : m_path(std::move(path)) { QFile::remove(m_path); }
    ~TempFile()
    {
        if (!m_renamed)
            QFile::remove(m_path);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const QString &path() const { return m_path; }
    void renamed() { m_renamed = true; }

private:
    QString m_path;
    bool m_renamed = false;
};

// Removes what an interrupted backup or restore left behind. A copy in
// progress is written to all the time, so an hour without a change means
// its process is gone.
void removeStaleTemporaries(const QString &folder, const QString &pattern)
{
    const QDir dir(folder);
    const QDateTime stale = QDateTime::currentDateTime().addSecs(-3600);
    for (const QFileInfo &f : dir.entryInfoList({pattern}, QDir::Files | QDir::Hidden)) {
        if (f.lastModified() < stale)
            QFile::remove(f.absoluteFilePath());
    }
}

QString temporarySuffix() { return QStringLiteral(".%1.tmp").arg(::getpid()); }

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
    // The time in the name sorts the backups oldest first.
    for (const QString &f : dir.entryList(QDir::Files, QDir::Name)) {
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
    if (!QFileInfo(dir).isDir()) {
        if (::mkdir(QFile::encodeName(dir).constData(), 0777) != 0)
            fail(backupFailed(), dir, causeOfErrno(errno));
        syncToDisk(QFileInfo(m_databasePath).absolutePath());
    }
    const QString stem = QFileInfo(m_databasePath).completeBaseName();
    removeStaleTemporaries(dir, u'.' + stem + QStringLiteral("-*.tmp"));

    QDateTime time = now();
    TempFile temp(dir + u'/' + u'.' + nameFor(time) + temporarySuffix());
    auto failWriting = [&](const QString &cause) { fail(backupFailed(), dir + u'/' + nameFor(time), cause); };

    bool copied = false;
    if (format == FileFormat::Sqlite) {
        if (const auto f = copyDatabase(m_databasePath, temp.path(), m_options.busyWaitMs)) {
            const int primary = f->code & 0xff;
            // A damaged collection is still kept as it is, byte for byte.
            if (!(f->atSource && (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT))) {
                if (f->atSource)
                    fail(backupFailed(), m_databasePath, causeOf(f->code, f->systemErrno));
                failWriting(causeOf(f->code, f->systemErrno));
            }
            QFile::remove(temp.path());
        } else {
            copied = true;
        }
    }
    // Any other file (an Access file before its conversion, a damaged one)
    // is copied as it is.
    if (!copied) {
        bool atSource = false;
        if (const int e = copyBytes(m_databasePath, temp.path(), atSource)) {
            if (atSource)
                fail(backupFailed(), m_databasePath, causeOfErrno(e));
            failWriting(causeOfErrno(e));
        }
    }
    if (const int e = syncToDisk(temp.path()))
        failWriting(causeOfErrno(e));

    // Two backups in the same second (a restore right after another) must
    // not replace each other: the later one takes the next free second.
    QString final;
    for (;;) {
        final = dir + u'/' + nameFor(time);
        const int e = renameNoReplace(temp.path(), final);
        if (e == 0)
            break;
        if (e != EEXIST)
            failWriting(causeOfErrno(e));
        time = time.addSecs(1);
    }
    temp.renamed();
    if (const int e = syncToDisk(dir))
        fail(backupFailed(), final, causeOfErrno(e));

    prune(final, spared);
    return final;
}

void Backups::prune(const QString &made, const QString &spared) const
{
    // The backup just made is one of those kept, whatever its date (the
    // clock may have been set back); a spared one does not count.
    QStringList others = files();
    others.removeAll(made);
    // The spared file may be named through another path (a link, "..").
    const QString sparedFile = spared.isEmpty() ? QString() : QFileInfo(spared).canonicalFilePath();
    others.removeIf([&](const QString &f) { return !sparedFile.isEmpty() && QFileInfo(f).canonicalFilePath() == sparedFile; });
    // A backup that cannot be removed stays; the new one is complete anyway.
    for (qsizetype i = 0; i < others.size() + 1 - m_options.kept; ++i)
        QFile::remove(others[i]);
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

    // The copy that will take the collection's place is made first, beside
    // it, and checked: what is checked is exactly what is put in place.
    const QFileInfo db(m_databasePath);
    const QString dbFolder = db.absolutePath();
    const QString pattern = u'.' + db.fileName() + QStringLiteral(".restore");
    removeStaleTemporaries(dbFolder, pattern + QStringLiteral(".*.tmp"));
    TempFile temp(dbFolder + u'/' + pattern + temporarySuffix());
    if (const auto f = copyDatabase(source, temp.path(), m_options.busyWaitMs)) {
        if (f->atSource)
            fail(cannotRestoreFrom(), source, causeOf(f->code, f->systemErrno));
        fail(restoreFailed(), m_databasePath, causeOf(f->code, f->systemErrno));
    }
    checkCollection(temp.path(), source);
    if (db.exists())
        QFile::setPermissions(temp.path(), QFile::permissions(m_databasePath));
    if (const int e = syncToDisk(temp.path()))
        fail(restoreFailed(), m_databasePath, causeOfErrno(e));

    // From the backup of the current collection to the rename, no other
    // program may write to it: such a change would be in neither file.
    std::optional<WriterLock> lock;
    QString backup;
    if (db.exists()) {
        if (detectFileFormat(m_databasePath) == FileFormat::Sqlite)
            lock.emplace(m_databasePath, m_options.busyWaitMs);
        // The file being restored may itself be the oldest backup: it stays.
        backup = makeSparing(source);
    }
    // What is left of a journal or log now belongs to no readable file (the
    // collection was damaged); beside the new file it would be applied to it.
    for (const char *side : {"-journal", "-wal", "-shm"})
        QFile::remove(m_databasePath + QLatin1String(side));
    if (::rename(QFile::encodeName(temp.path()).constData(), QFile::encodeName(m_databasePath).constData()) != 0)
        fail(restoreFailed(), m_databasePath, causeOfErrno(errno));
    temp.renamed();
    if (const int e = syncToDisk(dbFolder))
        fail(restoreFailed(), m_databasePath, causeOfErrno(e));
    return backup;
}

void checkCollection(const QString &file, const QString &shownAs)
{
    sqlite3 *db = nullptr;
    const auto close = qScopeGuard([&] { sqlite3_close_v2(db); });
    auto failSqlite = [&] {
        fail(cannotRestoreFrom(), shownAs, causeOf(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
    };
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        failSqlite();
    // Every row of every table readable, every index consistent.
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &st, nullptr) != SQLITE_OK)
            failSqlite();
        const auto finalize = qScopeGuard([st] { sqlite3_finalize(st); });
        const int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW)
            failSqlite();
        if (qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)), "ok") != 0)
            fail(cannotRestoreFrom(), shownAs, damagedCause());
    }
    QStringList columns;
    {
        sqlite3_stmt *st = nullptr;
        const QString sql = QStringLiteral("PRAGMA table_info(%1)").arg(tableName());
        if (sqlite3_prepare16_v2(db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK)
            failSqlite();
        const auto finalize = qScopeGuard([st] { sqlite3_finalize(st); });
        while (sqlite3_step(st) == SQLITE_ROW)
            columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 1)));
    }
    if (columns.isEmpty())
        fail(cannotRestoreFrom(), shownAs, QStringLiteral("表 %1 がありません").arg(tableName()));
    for (const QString &f : fieldNames()) {
        if (!columns.contains(f, Qt::CaseInsensitive))
            fail(cannotRestoreFrom(), shownAs, QStringLiteral("表 %1 に項目「%2」がありません").arg(tableName(), f));
    }
}

} // namespace store
