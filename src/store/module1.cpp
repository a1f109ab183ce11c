#include "store/module1.h"

#include "store/error.h"

#include <QCoreApplication>
#include <QStringDecoder>

#include <climits>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace store {

namespace {
QString g_directoryOverride;
std::optional<QProcessEnvironment> g_environment;
std::optional<store::Places> g_places;

// Text of a file name in the system's bytes, which are UTF-8; nullopt when
// they are not.
std::optional<QString> decodeName(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString name = decoder.decode(bytes);
    return decoder.hasError() ? std::nullopt : std::optional<QString>(name);
}

// The user's folders as the environment names them. HOME, when unset, is
// the account's home folder. A name that is not valid UTF-8 counts as
// unset, as a relative one does, rather than be read as another folder.
QProcessEnvironment systemEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR"}) {
        QByteArray value = qgetenv(name);
        if (value.isEmpty() && qstrcmp(name, "HOME") == 0) {
            if (const passwd *account = ::getpwuid(::getuid()))
                value = account->pw_dir;
        }
        env.remove(QLatin1String(name));
        if (const std::optional<QString> text = decodeName(value); text && !text->isEmpty())
            env.insert(QLatin1String(name), *text);
    }
    return env;
}
} // namespace

QString directoryOf(const QByteArray &executablePath)
{
    const qsizetype slash = executablePath.lastIndexOf('/');
    const QByteArray directory = slash <= 0 ? QByteArray("/") : executablePath.left(slash);
    const std::optional<QString> name = decodeName(directory);
    if (!name || directory.isEmpty()) {
        throw store::fileError(QStringLiteral("アプリケーションのフォルダーの名前を読めません。"),
                               QString::fromUtf8(directory),
                               QStringLiteral("名前に文字として読めないバイトが含まれています。"
                                              "フォルダーの名前を変えてから起動してください"));
    }
    return *name;
}

QByteArray executablePath()
{
    // The system's own bytes: a name that is not valid UTF-8 would
    // otherwise come back empty, and every file would be looked for at the
    // root.
    static const QByteArray executable = [] {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
        return n > 0 ? QByteArray(buffer, n) : QCoreApplication::applicationFilePath().toUtf8();
    }();
    return executable;
}

QString applicationDirectory()
{
    if (!g_directoryOverride.isEmpty())
        return g_directoryOverride;
    return directoryOf(executablePath());
}

void setApplicationDirectory(const QString &directory)
{
    g_directoryOverride = directory;
    g_places.reset();
}

void setEnvironment(const QProcessEnvironment &environment)
{
    if (environment.isEmpty())
        g_environment.reset();
    else
        g_environment = environment;
    g_places.reset();
}

const store::Places &places()
{
    if (!g_places)
        g_places = store::decidePlaces(applicationDirectory(), g_environment ? *g_environment : systemEnvironment());
    return *g_places;
}

QString readerProgram()
{
    QString directory = QCoreApplication::applicationDirPath();
    try {
        if (places().mode == store::Mode::Installed)
            directory = places().readerDirectory;
    } catch (const store::Error &) {
        // Without places the program beside the executable is tried, and
        // a conversion that cannot start it says so.
    }
    return directory + QStringLiteral("/bukurea-jet");
}

QString &databasePath()
{
    static QString path;
    return path;
}

void computeDatabasePath()
{
    // The separator is appended as is, even to a root directory: the path
    // then holds "//", which the file system reads as one.
    databasePath() = places().dataDirectory + QStringLiteral("/") + QStringLiteral("BR.mdb");
}

store::RecordSource &lastSearch()
{
    static store::RecordSource search;
    return search;
}

} // namespace store
