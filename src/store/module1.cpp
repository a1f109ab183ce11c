#include "store/module1.h"

#include <QCoreApplication>

namespace Module1 {

namespace {
QString g_directoryOverride;
}

QString applicationDirectory()
{
    return g_directoryOverride.isEmpty() ? QCoreApplication::applicationDirPath() : g_directoryOverride;
}

void setApplicationDirectory(const QString &directory) { g_directoryOverride = directory; }

QString &databasePath()
{
    static QString path;
    return path;
}

void computeDatabasePath()
{
    // The separator is appended as is, even to a root directory: the path
    // then holds "//", which the file system reads as one.
    databasePath() = applicationDirectory() + QStringLiteral("/") + QStringLiteral("BR.mdb");
}

QString &lastSearch()
{
    static QString statement;
    return statement;
}

} // namespace Module1
