#include "store/fileformat.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <vector>

namespace store {

namespace {

// Reads the first bytes of a file through SQLite's own file layer rather
// than a descriptor of our own: POSIX locks belong to the process, so
// closing any descriptor of a database file would drop every lock this
// process's connections hold on it, while SQLite's layer keeps its
// descriptor open until those locks are gone. Returns false when the file
// cannot be opened or read; `head` holds what the file has of `size` bytes.
bool readHead(const QString &path, qsizetype size, QByteArray &head)
{
    sqlite3_vfs *vfs = sqlite3_vfs_find(nullptr);
    if (!vfs)
        return false;
    // The full name, links followed, as SQLite gives it to its layer.
    QByteArray full(vfs->mxPathname + 1, '\0');
    if ((vfs->xFullPathname(vfs, QFile::encodeName(path).constData(), int(full.size()), full.data()) & 0xff)
        != SQLITE_OK)
        return false;
    const char *name = sqlite3_create_filename(full.constData(), "", "", 0, nullptr);
    if (!name)
        return false;
    std::vector<sqlite3_int64> storage((size_t(vfs->szOsFile) + sizeof(sqlite3_int64) - 1) / sizeof(sqlite3_int64) + 1);
    auto *file = reinterpret_cast<sqlite3_file *>(storage.data());
    int flags = 0;
    bool ok = vfs->xOpen(vfs, name, file, SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_READONLY, &flags) == SQLITE_OK;
    if (ok) {
        sqlite3_int64 length = 0;
        ok = file->pMethods->xFileSize(file, &length) == SQLITE_OK;
        head = QByteArray(qsizetype(std::min<sqlite3_int64>(length, size)), '\0');
        ok = ok && (head.isEmpty() || file->pMethods->xRead(file, head.data(), int(head.size()), 0) == SQLITE_OK);
    }
    if (file->pMethods)
        file->pMethods->xClose(file);
    sqlite3_free_filename(name);
    return ok;
}

} // namespace

FileFormat detectFileFormat(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return FileFormat::Unreadable;
    QByteArray head;
    if (!readHead(path, 0x15, head))
        return FileFormat::Unreadable;
    if (head.isEmpty())
        return FileFormat::Empty;
    if (head.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return FileFormat::Sqlite;
    // An Access file names its engine at offset 4; the byte at 0x14 is the
    // engine version: 0 for Jet 3, 1 and up for Jet 4 and the ACE engine.
    const QByteArray engine = head.mid(4, 15);
    if (head.size() == 0x15 && (engine == "Standard Jet DB" || engine == "Standard ACE DB"))
        return head.at(0x14) == 0 ? FileFormat::Jet3 : FileFormat::Jet4;
    return FileFormat::Other;
}

sqlite3_file *mainFileHandle(sqlite3 *db)
{
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods)
        return nullptr;
    return file;
}

} // namespace store
