#include "app/backupcommands.h"
#include "app/startup.h"
#include "screens/list/listscreen.h"
#include "screens/registration/registrationscreen.h"
#include "store/module1.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTextStream>

using namespace testsupport;

namespace {

enum class Setup { Fresh, EmptyFolder, Collection };

// A program run from a folder of the test's choice with a home of its own.
struct Program {
    QTemporaryDir home;
    QString directory;
    bool installed;
    Program(bool installed, Setup setup) : installed(installed)
    {
        directory = installed ? QStringLiteral("/usr/bin") : home.filePath(QStringLiteral("app"));
        QDir().mkpath(home.filePath(QStringLiteral("app")));
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("my data")));
        store::setApplicationDirectory(directory);
        store::setEnvironment(env);
        if (setup != Setup::Fresh)
            QDir().mkpath(dataDirectory());
        if (setup == Setup::Collection) {
            execOn(dbPath(), store::createTableStatement());
            execOn(dbPath(), QStringLiteral("INSERT INTO tabel (蔵書番号, 書名) VALUES (7, '猫')"));
        }
    }
    ~Program()
    {
        store::setEnvironment(QProcessEnvironment());
        store::setApplicationDirectory(QString());
    }
    QString dataDirectory() const
    {
        return installed ? home.filePath(QStringLiteral("my data/bukurea")) : home.filePath(QStringLiteral("app"));
    }
    QString dbPath() const { return dataDirectory() + QStringLiteral("/BR.mdb"); }
};

screens::Message created(const QString &db)
{
    return {nullptr,
            QMessageBox::Information,
            QStringLiteral("ブクレア"),
            QStringLiteral("初めての起動のため、蔵書を保存するデータベース ファイルを新しく作りました。\n%1\n"
                           "（蔵書とそのバックアップはこのフォルダーに保存されます）")
                .arg(db),
            QMessageBox::Ok,
            QMessageBox::Ok};
}

screens::Message missing(const QString &db)
{
    return {nullptr,
            QMessageBox::Critical,
            QStringLiteral("ブクレア"),
            QStringLiteral("データベース ファイルが見つかりません。\n%1").arg(db),
            QMessageBox::Ok,
            QMessageBox::Ok};
}

QStringList descriptions(const QList<screens::Message> &messages)
{
    QStringList out;
    for (const screens::Message &m : messages)
        out << describe(m);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

// Starting the application: an installed program's first start makes the
// user's collection and says so once; a portable program never makes one.
class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeScreens(); }

    void start_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<bool>("madeNow"); // the first start makes the collection
        QTest::addColumn<int>("books");    // the list opens on this many; -1: the file is missing
        QTest::newRow("installed, first start") << true << Setup::Fresh << true << 0;
        QTest::newRow("installed, later start") << true << Setup::Collection << false << 1;
        QTest::newRow("installed, collection removed since") << true << Setup::EmptyFolder << false << -1;
        QTest::newRow("portable, no collection") << false << Setup::Fresh << false << -1;
        QTest::newRow("portable, collection") << false << Setup::Collection << false << 1;
    }

    // Started twice: the notice of the first start over the start menu at
    // most once; then the list opens on the collection or reports it
    // missing, as a missing file always is.
    void start()
    {
        QFETCH(bool, installed);
        QFETCH(Setup, setup);
        QFETCH(bool, madeNow);
        QFETCH(int, books);
        Program program(installed, setup);
        for (int run = 0; run < 2; ++run) {
            MessageScript messages;
            app::Navigator navigator;
            QVERIFY(app::showStartMenu(navigator));
            QVERIFY(navigator.menu().isVisible());
            QCOMPARE(descriptions(messages.shown),
                     madeNow && run == 0 ? QStringList{describe(created(program.dbPath()))} : QStringList());
            if (!messages.shown.isEmpty())
                QCOMPARE(messages.shown[0].parent, static_cast<QWidget *>(&navigator.menu()));
            messages.shown.clear();

            auto *list = openFromMenu<screens::ListScreen>(navigator.menu());
            if (books < 0) {
                QVERIFY(!list);
                QCOMPARE(descriptions(messages.shown), QStringList{describe(missing(program.dbPath()))});
                QVERIFY(!QFile::exists(program.dbPath()));
            } else {
                QVERIFY(list);
                QVERIFY(list->windowTitle().endsWith(QStringLiteral("   全 %1 件 ").arg(books)));
            }
            closeScreens();
        }
        if (!installed)
            QCOMPARE(QDir(program.home.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                     QStringList{"app"});
    }

    // In the user's data folder a change is backed up beside the
    // collection, and the export goes to the documents folder, made when
    // it does not exist yet.
    void installedKeepsEverythingInTheUsersFolders()
    {
        Program program(true, Setup::Fresh);
        MessageScript messages;
        app::Navigator navigator;
        QVERIFY(app::showStartMenu(navigator));
        auto *registration = openFromMenu<screens::RegistrationScreen>(navigator.menu());
        QVERIFY(registration);
        click(registration, "Command1");
        settle();
        QCOMPARE(rowsOf(program.dbPath()).size(), 1);
        QCOMPARE(QDir(program.dataDirectory() + QStringLiteral("/backup")).entryList(QDir::Files).size(), 1);

        auto *list = openFromMenu<screens::ListScreen>(navigator.menu());
        QVERIFY(list);
        click(list, "Command4");
        settle();
        QVERIFY(QFile::exists(program.home.filePath(QStringLiteral("Documents/ブクレア.xls"))));
        QCOMPARE(messages.shown.size(), 1); // the first start's notice only
    }

    // An installed program without a home folder: a command that needs
    // the collection fails with one line saying why, and nothing else.
    void commandWithoutHome()
    {
        store::setApplicationDirectory(QStringLiteral("/usr/bin"));
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin"));
        store::setEnvironment(env);
        QString out, text;
        QTextStream outStream(&out), err(&text);
        app::prepareForCommand(err);
        const int status = app::backupCommand({}, outStream, err);
        err.flush();
        store::setEnvironment(QProcessEnvironment());
        store::setApplicationDirectory(QString());
        QCOMPARE(status, 1);
        QCOMPARE(out, QString());
        QCOMPARE(text, QStringLiteral("bukurea: 蔵書を保存するホーム フォルダーが分かりません。 "
                                      "（環境変数 HOME に絶対パスが設定されていません）\n"));
    }

    // A command run first says so in one line on standard error, once.
    void commandOnFirstStart()
    {
        Program program(true, Setup::Fresh);
        QString text;
        QTextStream err(&text);
        app::prepareForCommand(err);
        err.flush();
        QCOMPARE(text, QStringLiteral("bukurea: ") + created(program.dbPath()).text.replace(u'\n', u' ') + u'\n');
        text.clear();
        app::prepareForCommand(err);
        err.flush();
        QCOMPARE(text, QString());
        QCOMPARE(rowsOf(program.dbPath()).size(), 0);
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
