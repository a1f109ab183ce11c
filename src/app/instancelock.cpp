#include "app/instancelock.h"

#include "screens/common/messages.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace app {

InstanceLock::InstanceLock(const QString &folder)
{
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(fileName()));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (m_fd < 0)
        return;
    // An exclusive lock is granted only while no other instance holds its
    // shared one; then this instance keeps a shared lock like the others.
    int rc;
    while ((rc = ::flock(m_fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    m_other = rc != 0 && errno == EWOULDBLOCK;
    while (::flock(m_fd, LOCK_SH) != 0 && errno == EINTR) {
    }
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool goOnBesideOtherInstance(const InstanceLock &lock, const QString &folder, QWidget *parent)
{
    if (!lock.otherInstance())
        return true;
    const QString text =
        QStringLiteral("このフォルダーの蔵書は、すでに起動している別のブクレアで開かれています。\r\n%1\r\n\r\n"
                       "このまま続けますか？（両方で同じ本を変えたときは、後から書き込む方が断られます。）")
            .arg(QDir::toNativeSeparators(folder));
    return screens::showMessage({parent, QMessageBox::Warning, QStringLiteral("ブクレア"), text,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes})
           == QMessageBox::Yes;
}

} // namespace app
