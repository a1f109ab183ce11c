#include "store/durablefile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// This is the one file of POSIX calls that write files. A port replaces it:
// - Windows: CreateFileW with CREATE_NEW for the temporary, FlushFileBuffers
//   for fsync, MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
//   to replace and MoveFileExW(MOVEFILE_WRITE_THROUGH) alone to refuse an
//   existing name; folders need no sync there. A process is alive while
//   OpenProcess(SYNCHRONIZE) and WaitForSingleObject(.., 0) say so.
//   CopyFileEx has no form that reads by position from an open handle:
//   copies go through the buffer there (ReadFile with an OVERLAPPED offset).
// - macOS: fsync does not reach the platter; fcntl(fd, F_FULLFSYNC) does
//   (fall back to fsync where it fails). renamex_np(from, to, RENAME_EXCL)
//   refuses an existing name; there is no renameat2. fclonefileat() clones
//   on APFS; otherwise copies go through the buffer.

namespace store::durable {

namespace {

QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

int closeFd(int &fd)
{
    if (fd < 0)
        return 0;
    const int rc = ::close(fd) == 0 ? 0 : errno;
    fd = -1;
    return rc;
}

int syncFd(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

const QString &marker()
{
    static const QString m = QStringLiteral(".bukurea-");
    return m;
}

const QRegularExpression &temporaryPattern()
{
    static const QRegularExpression re(QStringLiteral("^\\..+\\.bukurea-([1-9][0-9]{0,9})-[A-Za-z0-9]{6}\\.tmp$"));
    return re;
}

QString randomTag()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString tag;
    for (int i = 0; i < 6; ++i)
        tag += QLatin1Char(letters[QRandomGenerator::system()->bounded(int(sizeof letters) - 1)]);
    return tag;
}

std::atomic<bool> g_kernelCopy{true};

// The errors with which the kernel declines to copy between two files
// (different file systems, a file system without the call, an older
// kernel); the copy then goes through a buffer. ENOTSUP is EOPNOTSUPP here.
bool kernelDeclines(int e)
{
    return e == EXDEV || e == EINVAL || e == ENOSYS || e == EOPNOTSUPP || e == EBADF || e == EPERM || e == ETXTBSY;
}

bool processAlive(qint64 pid)
{
    if (pid <= 0 || pid > INT32_MAX)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

TempFile::TempFile(const QString &target) : m_target(QFileInfo(target).absoluteFilePath())
{
    const QFileInfo info(m_target);
    const QString stem =
        info.absolutePath() + QStringLiteral("/.") + info.fileName() + marker() + QString::number(::getpid()) + u'-';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = stem + randomTag() + QStringLiteral(".tmp");
        // Readable too, so that a copy can be checked before it is committed.
        m_fd = ::open(encoded(candidate).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_path = candidate;
            m_error = 0;
            return;
        }
        m_error = errno;
        if (m_error != EEXIST)
            return;
    }
}

TempFile::~TempFile()
{
    closeFd(m_fd);
    if (!m_committed && !m_path.isEmpty())
        ::unlink(encoded(m_path).constData());
}

int TempFile::write(const char *data, qint64 size)
{
    if (m_fd < 0)
        return m_error ? m_error : EBADF;
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    // The system is asked to start writing what has come so far, a few
    // mebibytes at a time, while the rest is still being made: the sync
    // before the rename then waits only for the last of it.
    m_written += size;
    if (m_written - m_started >= WritebackStep) {
        ::sync_file_range(m_fd, m_started, m_written - m_started, SYNC_FILE_RANGE_WRITE);
        m_started = m_written;
    }
    return 0;
}

int TempFile::copyFrom(const QString &source, bool &atSource)
{
    atSource = true;
    int in = ::open(encoded(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat st;
    const int rc = ::fstat(in, &st) != 0 ? errno : copyFrom(in, qint64(st.st_size), atSource);
    closeFd(in);
    return rc;
}

int TempFile::copyFrom(int source, qint64 size, bool &atSource)
{
    atSource = false;
    if (m_fd < 0)
        return m_error ? m_error : EBADF;
    qint64 done = 0;
    if (g_kernelCopy) {
        // A clone shares the whole file's blocks: only for a whole file into
        // this one while it is still empty.
        struct stat in, out;
        if (::fstat(source, &in) == 0 && in.st_size == size && size > 0 && ::fstat(m_fd, &out) == 0 && out.st_size == 0
            && ::ioctl(m_fd, FICLONE, source) == 0) {
            const off_t end = ::lseek(m_fd, 0, SEEK_END);
            return end == size ? 0 : end < 0 ? errno : EIO;
        }
        loff_t from = 0;
        while (done < size) {
            const ssize_t n =
                ::copy_file_range(source, &from, m_fd, nullptr, size_t(std::min<qint64>(size - done, 1 << 30)), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && !(done == 0 && kernelDeclines(errno)))
                return errno;
            // Declined, or the source ends early (or is on a file system
            // that copies nothing this way): the buffer goes on and tells.
            if (n <= 0)
                break;
            done += n;
        }
    }
    std::vector<char> buffer(size_t(std::min<qint64>(size - done, 1 << 20)));
    while (done < size) {
        const ssize_t n =
            ::pread(source, buffer.data(), size_t(std::min<qint64>(qint64(buffer.size()), size - done)), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            atSource = true;
            return n < 0 ? errno : EIO;
        }
        if (const int e = write(buffer.data(), n))
            return e;
        done += n;
    }
    return 0;
}

int TempFile::readBack(char *data, qint64 size, qint64 offset) const
{
    if (m_fd < 0)
        return m_error ? m_error : EBADF;
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::pread(m_fd, data + done, size_t(size - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += n;
    }
    return 0;
}

qint64 TempFile::size() const
{
    struct stat st;
    if (m_fd >= 0 ? ::fstat(m_fd, &st) != 0 : (m_path.isEmpty() || ::stat(encoded(m_path).constData(), &st) != 0))
        return -1;
    return qint64(st.st_size);
}

void TempFile::copyAttributesOf(const QString &file, bool withTime)
{
    struct stat st;
    if (m_path.isEmpty() || ::stat(encoded(file).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    ::chmod(encoded(m_path).constData(), st.st_mode & 07777);
    if (withTime) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        ::utimensat(AT_FDCWD, encoded(m_path).constData(), times, 0);
    }
}

int TempFile::closeHandle() { return closeFd(m_fd); }

int TempFile::sync()
{
    if (m_path.isEmpty())
        return m_error ? m_error : EBADF;
    if (m_fd >= 0)
        return syncFd(m_fd);
    return syncPath(m_path);
}

int TempFile::commit(Replace mode) { return commitAs(m_target, mode); }

int TempFile::commitAs(const QString &target, Replace mode)
{
    if (m_path.isEmpty() || m_committed)
        return m_error ? m_error : EBADF;
    if (const int e = sync())
        return e;
    if (const int e = closeFd(m_fd))
        return e;
    if (const int e = durable::rename(m_path, target, mode))
        return e;
    m_committed = true;
    // The new name reaches the disk with its folder. The file is in place
    // already, so a folder that cannot be synced is no failure to report.
    syncPath(QFileInfo(target).absolutePath());
    return 0;
}

int syncPath(const QString &path)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int rc = syncFd(fd);
    // A folder on a file system that cannot sync one (some network and FUSE
    // ones) is as durable as that file system makes it.
    if (rc == EINVAL) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
            rc = 0;
    }
    int copy = fd;
    closeFd(copy);
    return rc;
}

int rename(const QString &from, const QString &to, Replace mode)
{
    const QByteArray f = encoded(from), t = encoded(to);
    if (mode == Replace::Existing)
        return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system that cannot refuse in the rename itself: a hard link
    // can, and the temporary name is dropped afterwards.
    if (::link(f.constData(), t.constData()) == 0) {
        ::unlink(f.constData());
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
    // Neither (FAT and some network file systems): look first.
    struct stat st;
    if (::lstat(t.constData(), &st) == 0)
        return EEXIST;
    return ::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
}

int makeFolder(const QString &path)
{
    if (::mkdir(encoded(path).constData(), 0777) != 0)
        return errno;
    syncPath(QFileInfo(path).absolutePath());
    return 0;
}

int remove(const QString &path) { return ::unlink(encoded(path).constData()) == 0 ? 0 : errno; }

int openError(const QString &path)
{
    int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    closeFd(fd);
    return 0;
}

bool isDescriptorOf(int fd, const QString &path)
{
    struct stat open, named;
    return fd >= 0 && ::fstat(fd, &open) == 0 && ::stat(encoded(path).constData(), &named) == 0
           && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void setKernelCopy(bool allowed) { g_kernelCopy = allowed; }

bool isSymLink(const QString &path)
{
    struct stat st;
    return ::lstat(encoded(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

QString followLinks(const QString &path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    // A chain of links is followed to its end, each relative one from its
    // own folder; a loop ends with the last name reached.
    for (int hops = 0; hops < 40 && isSymLink(current); ++hops) {
        const QString next = QFileInfo(current).symLinkTarget();
        if (next.isEmpty())
            break;
        current = next;
    }
    return current;
}

bool isTemporaryName(const QString &name) { return temporaryPattern().match(name).hasMatch(); }

int removeStaleTemporaries(const QString &folder, qint64 maxAgeSecs)
{
    DIR *dir = ::opendir(encoded(folder).constData());
    if (!dir)
        return 0;
    const int dirFd = ::dirfd(dir);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        const auto match = temporaryPattern().match(name);
        if (!match.hasMatch())
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
            || st.st_uid != ::geteuid())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        const bool gone = pid != ::getpid() && !processAlive(pid);
        const bool old = now - qint64(st.st_mtim.tv_sec) > maxAgeSecs;
        if ((gone || old) && ::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace store::durable
