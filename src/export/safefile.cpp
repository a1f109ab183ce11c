#include "export/safefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xls {

SafeFile::SafeFile(const QString &path) : m_path(path) {}

SafeFile::~SafeFile() { discard(); }

bool SafeFile::fail()
{
    if (!m_errno)
        m_errno = errno;
    discard();
    return false;
}

void SafeFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.isEmpty()) {
        ::unlink(m_temp.constData());
        m_temp.clear();
    }
    QIODevice::close();
}

bool SafeFile::open()
{
    // Hidden, beside the target, so that the rename stays on one disk.
    const QFileInfo target(m_path);
    m_temp = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName()) + ".XXXXXX";
    m_fd = ::mkstemp(m_temp.data());
    if (m_fd < 0) {
        m_errno = errno;
        m_temp.clear();
        return false;
    }
    // The permissions a new file gets (or those of the file replaced), not
    // the private ones of a temporary file.
    struct stat existing;
    mode_t mode;
    if (::stat(QFile::encodeName(m_path).constData(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(m_fd, mode) != 0)
        return fail();
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 SafeFile::writeData(const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_errno = errno;
            return -1;
        }
        done += n;
    }
    return done;
}

bool SafeFile::commit()
{
    if (m_fd < 0 || m_errno)
        return fail();
    if (::fsync(m_fd) != 0)
        return fail();
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail();
    if (::rename(m_temp.constData(), QFile::encodeName(m_path).constData()) != 0)
        return fail();
    m_temp.clear();
    // The new name itself is on disk once the folder is.
    const int dir = ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    QIODevice::close();
    return true;
}

} // namespace xls
