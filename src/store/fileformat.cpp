#include "store/fileformat.h"

#include <QFile>
#include <QFileInfo>

namespace store {

FileFormat detectFileFormat(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return FileFormat::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileFormat::Unreadable;
    const QByteArray head = file.read(0x15);
    if (head.isEmpty())
        return file.error() == QFileDevice::NoError ? FileFormat::Empty : FileFormat::Unreadable;
    if (head.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return FileFormat::Sqlite;
    // An Access file names its engine at offset 4; the byte at 0x14 is the
    // engine version: 0 for Jet 3, 1 and up for Jet 4 and the ACE engine.
    const QByteArray engine = head.mid(4, 15);
    if (head.size() == 0x15 && (engine == "Standard Jet DB" || engine == "Standard ACE DB"))
        return head.at(0x14) == 0 ? FileFormat::Jet3 : FileFormat::Jet4;
    return FileFormat::Other;
}

} // namespace store
