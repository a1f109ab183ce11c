#include "store/module1.h"

#include "store/error.h"

#include <QCoreApplication>
#include <QStringDecoder>

#include <climits>
#include <unistd.h>

namespace Module1 {

namespace {
QString g_directoryOverride;
}

QString directoryOf(const QByteArray &executablePath)
{
    const qsizetype slash = executablePath.lastIndexOf('/');
    const QByteArray directory = slash <= 0 ? QByteArray("/") : executablePath.left(slash);
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString name = decoder.decode(directory);
    if (decoder.hasError() || directory.isEmpty()) {
        throw store::fileError(QStringLiteral("アプリケーションのフォルダーの名前を読めません。"), name,
                               QStringLiteral("名前に文字として読めないバイトが含まれています。"
                                              "フォルダーの名前を変えてから起動してください"));
    }
    return name;
}

QString applicationDirectory()
{
    if (!g_directoryOverride.isEmpty())
        return g_directoryOverride;
    // The system's own bytes for the executable: a name that is not valid
    // UTF-8 would otherwise come back empty, and every file would be looked
    // for at the root.
    static const QByteArray executable = [] {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
        return n > 0 ? QByteArray(buffer, n) : QCoreApplication::applicationFilePath().toUtf8();
    }();
    return directoryOf(executable);
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
