#include "store/booktable.h"
#include "store/connection.h"
#include "store/error.h"
#include "store/module1.h"
#include "store/places.h"
#include "support/appdir.h"
#include "support/unavailable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

using namespace testsupport;

Q_DECLARE_METATYPE(store::Places)

namespace {

QProcessEnvironment environment(const QStringList &assignments)
{
    QProcessEnvironment env;
    for (const QString &a : assignments)
        env.insert(a.section(u'=', 0, 0), a.section(u'=', 1));
    return env;
}

QString describe(const store::Places &p)
{
    return QStringLiteral("%1 data=%2 export=%3 help=%4 reader=%5")
        .arg(p.mode == store::Mode::Installed ? "installed" : "portable", p.dataDirectory, p.exportDirectory,
             p.helpDirectory, p.readerDirectory);
}

store::Places portable(const QString &dir) { return {store::Mode::Portable, dir, dir, dir, dir}; }

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Every name under a folder, hidden ones included, relative to it.
QStringList tree(const QString &folder)
{
    QStringList out;
    const QDir dir(folder);
    for (const QFileInfo &f : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        out << f.fileName();
        if (f.isDir())
            for (const QString &inner : tree(f.filePath()))
                out << f.fileName() + u'/' + inner;
    }
    return out;
}

// The statement that made the file's tables, as SQLite keeps it.
QString schemaOf(const QString &db)
{
    sqlite3 *handle = nullptr;
    sqlite3_open_v2(db.toUtf8().constData(), &handle, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *st = nullptr;
    QString sql;
    sqlite3_prepare_v2(handle, "SELECT group_concat(sql, ';') FROM sqlite_master", -1, &st, nullptr);
    if (sqlite3_step(st) == SQLITE_ROW)
        sql = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0))) + u';';
    sqlite3_finalize(st);
    sqlite3_close(handle);
    return sql;
}

} // namespace

// Where the program keeps its files, portable or installed, and the first
// start of an installed program, which makes the user's collection.
class TestPlaces : public QObject {
    Q_OBJECT
private slots:
    void decision_data()
    {
        QTest::addColumn<QString>("programDirectory");
        QTest::addColumn<bool>("holdsCollection");
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<store::Places>("expected");

        const QStringList home{"HOME=/home/u"};
        const store::Places usr{store::Mode::Installed, "/home/u/.local/share/bukurea", "/home/u/Documents",
                                "/usr/share/bukurea", "/usr/lib/bukurea"};
        QTest::newRow("build folder") << "/work/build" << true << home << portable("/work/build");
        QTest::newRow("own folder without BR.mdb: still portable, nothing made")
            << "/home/u/bukurea" << false << home << portable("/home/u/bukurea");
        QTest::newRow("japanese name and blank kept") << "/home/u/本 棚" << true << home << portable("/home/u/本 棚");
        QTest::newRow("root folder") << "/" << true << home << portable("/");
        QTest::newRow("/usr/bin") << "/usr/bin" << false << home << usr;
        QTest::newRow("/usr/bin/ written with a trailing slash") << "/usr/bin/" << false << home << usr;
        QTest::newRow("/usr/bin holding BR.mdb stays portable") << "/usr/bin" << true << home << portable("/usr/bin");
        QTest::newRow("/usr/local/bin, XDG_DATA_HOME")
            << "/usr/local/bin" << false << QStringList{"HOME=/home/u", "XDG_DATA_HOME=/srv/data/"}
            << store::Places{store::Mode::Installed, "/srv/data/bukurea", "/home/u/Documents",
                             "/usr/local/share/bukurea", "/usr/local/lib/bukurea"};
        QTest::newRow("relative XDG_DATA_HOME is ignored")
            << "/usr/bin" << false << QStringList{"HOME=/home/u", "XDG_DATA_HOME=data"} << usr;
        QTest::newRow("/opt prefix") << "/opt/bukurea/bin" << false << home
                                     << store::Places{store::Mode::Installed, "/home/u/.local/share/bukurea",
                                                      "/home/u/Documents", "/opt/bukurea/share/bukurea",
                                                      "/opt/bukurea/lib/bukurea"};
        QTest::newRow("documents folder from the environment")
            << "/usr/bin" << false << QStringList{"HOME=/home/u", "XDG_DOCUMENTS_DIR=/home/u/書類"}
            << store::Places{usr.mode, usr.dataDirectory, "/home/u/書類", usr.helpDirectory, usr.readerDirectory};
        QTest::newRow("not a prefix's bin: /usr/lib") << "/usr/lib" << false << home << portable("/usr/lib");
        QTest::newRow("not a prefix's bin: /usrx/bin") << "/usrx/bin" << false << home << portable("/usrx/bin");
        QTest::newRow("not a prefix's bin: /optical/bin")
            << "/optical/bin" << false << home << portable("/optical/bin");
        QTest::newRow("portable needs no home") << "/work/build" << false << QStringList{} << portable("/work/build");
    }

    void decision()
    {
        QFETCH(QString, programDirectory);
        QFETCH(bool, holdsCollection);
        QFETCH(QStringList, env);
        QFETCH(store::Places, expected);
        QCOMPARE(describe(store::decidePlaces(programDirectory, holdsCollection, environment(env))),
                 describe(expected));
    }

    // The documents folder the desktop names in user-dirs.dirs wins over the
    // environment; a line that names none leaves ~/Documents.
    void documentsFolder_data()
    {
        QTest::addColumn<QString>("configHome"); // relative to the test's home; empty: ~/.config
        QTest::addColumn<QByteArray>("userDirs");
        QTest::addColumn<QString>("expected"); // "~" is the test's home
        QTest::newRow("$HOME form") << ""
                                    << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                  "XDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\n")
                                    << "~/ドキュメント";
        QTest::newRow("absolute, spaces, escaped quote")
            << "" << QByteArray("# written by xdg-user-dirs-update\n  XDG_DOCUMENTS_DIR = \"/srv/my \\\"docs\\\"\"  \n")
            << "/srv/my \"docs\"";
        QTest::newRow("XDG_CONFIG_HOME") << "cfg" << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/cfgdocs\"\n") << "~/cfgdocs";
        QTest::newRow("file wins over the environment")
            << "" << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/fromfile\"\n") << "~/fromfile";
        QTest::newRow("commented out: the environment")
            << "" << QByteArray("#XDG_DOCUMENTS_DIR=\"$HOME/x\"\n") << "/env/docs";
        QTest::newRow("relative value: ~/Documents")
            << "" << QByteArray("XDG_DOCUMENTS_DIR=\"docs\"\n") << "~/Documents";
    }

    void documentsFolder()
    {
        QFETCH(QString, configHome);
        QFETCH(QByteArray, userDirs);
        QFETCH(QString, expected);
        QTemporaryDir home;
        const QString config = home.filePath(configHome.isEmpty() ? QStringLiteral(".config") : configHome);
        writeFile(config + QStringLiteral("/user-dirs.dirs"), userDirs);
        QStringList env{"HOME=" + home.path()};
        if (!configHome.isEmpty())
            env << "XDG_CONFIG_HOME=" + config;
        if (QByteArray(QTest::currentDataTag()).contains("environment"))
            env << QStringLiteral("XDG_DOCUMENTS_DIR=/env/docs");
        const store::Places p = store::decidePlaces(QStringLiteral("/usr/bin"), false, environment(env));
        QCOMPARE(p.exportDirectory, expected.replace(u'~', home.path()));
    }

    // An installed program without a home folder has nowhere to keep the
    // collection: it says so instead of using the root or the working folder.
    void installedWithoutHome()
    {
        for (const QStringList &env : {QStringList{}, QStringList{"HOME="}, QStringList{"HOME=relative/home"}}) {
            try {
                store::decidePlaces(QStringLiteral("/usr/bin"), false, environment(env));
                QFAIL("decided");
            } catch (const store::Error &e) {
                QVERIFY2(e.message().contains(QStringLiteral("HOME")), qPrintable(e.message()));
            }
        }
    }

    // The folder looked at for BR.mdb is the program's own.
    void looksForTheCollection()
    {
        QTemporaryDir dir;
        const auto env = environment({"HOME=/home/u"});
        QCOMPARE(describe(store::decidePlaces(dir.path(), env)), describe(portable(dir.path())));
        writeFile(dir.filePath(QStringLiteral("BR.mdb")), "x");
        QCOMPARE(describe(store::decidePlaces(dir.path(), env)), describe(portable(dir.path())));
    }

    // The first start makes the data folder (and the folders above it) with
    // an empty collection holding the one book table; no temporary folder
    // is left beside it. Later starts change nothing; a collection removed
    // later is not made again, so the data screens report it missing.
    void firstStart()
    {
        QTemporaryDir home;
        const store::Places p =
            store::decidePlaces(QStringLiteral("/usr/bin"), false,
                                environment({"HOME=" + home.path(), "XDG_DATA_HOME=" + home.filePath("a b/データ")}));
        const QString db = p.dataDirectory + QStringLiteral("/BR.mdb");

        QVERIFY(store::makeFirstDataFolder(p));
        QCOMPARE(tree(home.filePath("a b")), QStringList({"データ", "データ/bukurea", "データ/bukurea/BR.mdb"}));
        QCOMPARE(rowsOf(db), QList<Book>());
        QCOMPARE(schemaOf(db), store::createTableStatement());

        execOn(db, QStringLiteral("INSERT INTO tabel (蔵書番号) VALUES (1)"));
        QVERIFY(!store::makeFirstDataFolder(p));
        QCOMPARE(rowsOf(db).size(), 1);

        QVERIFY(QFile::remove(db));
        QVERIFY(!store::makeFirstDataFolder(p));
        QVERIFY(!QFile::exists(db));
        try {
            store::Connection::open(db);
            QFAIL("opened");
        } catch (const store::Error &e) {
            QCOMPARE(e.message(), QStringLiteral("データベース ファイルが見つかりません。\n%1").arg(db));
        }
    }

    // Portable: nothing is ever made, whatever is missing.
    void portableMakesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(!store::makeFirstDataFolder(store::decidePlaces(dir.path(), environment({"HOME=" + dir.path()}))));
        QCOMPARE(tree(dir.path()), QStringList());
    }

    // A data folder that cannot be made is reported by its name and the
    // reason, and nothing is left behind to pass for a first start later.
    void firstStartFails()
    {
        QTemporaryDir home;
        FaultyFolder share(home.filePath(QStringLiteral("share")), FaultyFolder::ReadOnly);
        if (!share.available())
            SKIP_UNAVAILABLE("no read-only folder can be made here");
        share.seal();
        const store::Places p = store::decidePlaces(
            QStringLiteral("/usr/bin"), false,
            environment({"HOME=" + home.path(), "XDG_DATA_HOME=" + home.filePath(QStringLiteral("share"))}));
        try {
            store::makeFirstDataFolder(p);
            QFAIL("made");
        } catch (const store::Error &e) {
            QVERIFY2(e.message().startsWith(
                         QStringLiteral("蔵書を保存するフォルダーを作れません。\n%1\n（").arg(p.dataDirectory)),
                     qPrintable(e.message()));
        }
        QCOMPARE(tree(home.filePath(QStringLiteral("share"))), QStringList());
    }

    // Another start made the folder first: this one leaves it as it is.
    void folderMadeByAnotherStart()
    {
        QTemporaryDir home;
        const store::Places p =
            store::decidePlaces(QStringLiteral("/usr/bin"), false, environment({"HOME=" + home.path()}));
        QVERIFY(QDir().mkpath(p.dataDirectory));
        QVERIFY(!store::makeFirstDataFolder(p));
        QCOMPARE(tree(p.dataDirectory), QStringList());
    }

    // The application module follows the decision: the database path is in
    // the data folder, the reader comes from the prefix, and a test's
    // environment is dropped again.
    void moduleFollowsTheDecision()
    {
        QTemporaryDir home;
        store::setApplicationDirectory(QStringLiteral("/usr/bin"));
        store::setEnvironment(environment({"HOME=" + home.path()}));
        store::computeDatabasePath();
        QCOMPARE(store::databasePath(), home.filePath(QStringLiteral(".local/share/bukurea/BR.mdb")));
        QCOMPARE(store::readerProgram(), QStringLiteral("/usr/lib/bukurea/bukurea-jet"));
        store::setEnvironment(QProcessEnvironment());
        store::setApplicationDirectory(QString());
        QCOMPARE(store::readerProgram(), QCoreApplication::applicationDirPath() + QStringLiteral("/bukurea-jet"));
    }
};

QTEST_GUILESS_MAIN(TestPlaces)
#include "test_places.moc"
