#include "store/places.h"

#include "store/booktable.h"
#include "store/durablefile.h"
#include "store/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace store {

namespace {

const QString &folderName()
{
    static const QString name = QStringLiteral("bukurea");
    return name;
}

// The prefix a program in `directory` was installed into, or an empty
// string when the folder is not the bin folder of a system prefix.
QString systemPrefixOf(const QString &directory)
{
    const QString dir = QDir::cleanPath(directory);
    if (dir == QLatin1String("/usr/bin") || dir == QLatin1String("/usr/local/bin"))
        return dir.chopped(4);
    if (dir.startsWith(QLatin1String("/opt/")) && dir.endsWith(QLatin1String("/bin")))
        return dir.chopped(4);
    return QString();
}

// An environment variable that names a folder; relative names are not
// valid there and count as unset.
QString absoluteFolder(const QProcessEnvironment &env, const QString &name)
{
    const QString value = env.value(name);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

// The documents folder as the desktop names it: XDG_DOCUMENTS_DIR of
// user-dirs.dirs ("$HOME/Documents" or an absolute name), else of the
// environment, else ~/Documents.
QString documentsFolder(const QProcessEnvironment &env, const QString &home)
{
    QString config = absoluteFolder(env, QStringLiteral("XDG_CONFIG_HOME"));
    if (config.isEmpty())
        config = home + QStringLiteral("/.config");
    QString named;
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    if (dirs.open(QIODevice::ReadOnly)) {
        static const QRegularExpression line(
            QStringLiteral(R"re(^\s*XDG_DOCUMENTS_DIR\s*=\s*"((?:[^"\\]|\\.)*)"\s*$)re"),
            QRegularExpression::MultilineOption);
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(dirs.readAll()));
        if (m.hasMatch()) {
            static const QRegularExpression escape(QStringLiteral(R"(\\(.))"));
            named = m.captured(1).replace(escape, QStringLiteral("\\1"));
        }
    }
    if (named.isEmpty())
        named = env.value(QStringLiteral("XDG_DOCUMENTS_DIR"));
    if (named.startsWith(QLatin1String("$HOME")))
        named = home + named.mid(5);
    return QDir::isAbsolutePath(named) ? QDir::cleanPath(named) : home + QStringLiteral("/Documents");
}

} // namespace

Places decidePlaces(const QString &programDirectory, const QProcessEnvironment &environment)
{
    return decidePlaces(programDirectory, QFileInfo::exists(programDirectory + QStringLiteral("/BR.mdb")), environment);
}

Places decidePlaces(const QString &programDirectory, bool holdsCollection, const QProcessEnvironment &environment)
{
    const QString prefix = systemPrefixOf(programDirectory);
    if (prefix.isEmpty() || holdsCollection)
        return {Mode::Portable, programDirectory, programDirectory, programDirectory, programDirectory};

    const QString home = absoluteFolder(environment, QStringLiteral("HOME"));
    if (home.isEmpty())
        throw Error(QStringLiteral("蔵書を保存するホーム フォルダーが分かりません。\n"
                                   "（環境変数 HOME に絶対パスが設定されていません）"));
    QString data = absoluteFolder(environment, QStringLiteral("XDG_DATA_HOME"));
    if (data.isEmpty())
        data = home + QStringLiteral("/.local/share");
    return {Mode::Installed, data + u'/' + folderName(), documentsFolder(environment, home),
            prefix + QStringLiteral("/share/") + folderName(), prefix + QStringLiteral("/lib/") + folderName()};
}

void createEmptyCollection(const QString &path)
{
    sqlite3 *db = nullptr;
    int rc =
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, createTableStatement().toUtf8().constData(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason =
            engineReason(sqlite3_extended_errcode(db), sqlite3_system_errno(db), QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_close(db);
        throw fileError(QStringLiteral("データベース ファイルを作れません。"), path, reason);
    }
    sqlite3_close(db);
}

bool makeFirstDataFolder(const Places &places)
{
    if (places.mode != Mode::Installed)
        return false;
    namespace fs = std::filesystem;
    const fs::path folder = QFile::encodeName(places.dataDirectory).toStdString();
    std::error_code ec;
    if (fs::exists(fs::symlink_status(folder, ec)))
        return false;
    const auto cannot = [&](int systemError) {
        return fileError(QStringLiteral("蔵書を保存するフォルダーを作れません。"), places.dataDirectory,
                         systemReason(systemError));
    };
    fs::create_directories(folder.parent_path(), ec);
    if (ec)
        throw cannot(ec.value());

    std::string templ = (folder.parent_path() / ".bukurea-new-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
        throw cannot(errno);
    const fs::path temp = templ;
    int renamed = 0;
    try {
        createEmptyCollection(QFile::decodeName(QByteArray::fromStdString((temp / "BR.mdb").string())));
        const QString tempName = QFile::decodeName(QByteArray::fromStdString(temp.string()));
        if (const int e = durable::syncPath(tempName))
            throw cannot(e);
        renamed = durable::rename(tempName, places.dataDirectory, durable::Replace::Never);
        if (renamed != 0 && renamed != EEXIST)
            throw cannot(renamed);
    } catch (const Error &) {
        fs::remove_all(temp, ec);
        throw;
    }
    if (renamed == EEXIST) {
        // Another start of the program made it a moment ago.
        fs::remove_all(temp, ec);
        return false;
    }
    durable::syncPath(QFileInfo(places.dataDirectory).absolutePath());
    return true;
}

} // namespace store
