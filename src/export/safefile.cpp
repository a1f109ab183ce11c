#include "export/safefile.h"

#include "store/durablefile.h"

#include <QFileInfo>

#include <cerrno>

namespace exporting {

SafeFile::SafeFile(const QString &path) : m_path(path) {}

SafeFile::~SafeFile() = default;

bool SafeFile::fail(int error)
{
    if (!m_errno)
        m_errno = error;
    m_temp.reset();
    QIODevice::close();
    return false;
}

bool SafeFile::open()
{
    const QString target = store::durable::followLinks(m_path);
    // What an export killed before it was done left beside the file.
    store::durable::removeStaleTemporaries(QFileInfo(target).absolutePath());
    m_temp = std::make_unique<store::durable::TempFile>(target);
    if (const int e = m_temp->error())
        return fail(e);
    // The permissions of the file replaced, when there is one.
    m_temp->copyAttributesOf(target);
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 SafeFile::writeData(const char *data, qint64 size)
{
    if (!m_temp)
        return -1;
    if (const int e = m_temp->write(data, size)) {
        if (!m_errno)
            m_errno = e;
        return -1;
    }
    return size;
}

bool SafeFile::commit()
{
    if (!m_temp || m_errno)
        return fail(m_errno ? m_errno : EBADF);
    if (const int e = m_temp->commit(store::durable::Replace::Existing))
        return fail(e);
    m_temp.reset();
    QIODevice::close();
    return true;
}

} // namespace exporting
