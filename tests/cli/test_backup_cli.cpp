#include "store/booktable.h"
#include "support/appdir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QThread>
#include <sqlite3.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace testsupport;

namespace {

QByteArray digest(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : "missing";
}

// The program beside the test's collection: it works on the BR.mdb of its
// own directory.
QString installProgram(const AppDir &dir)
{
    const QString program = dir.path() + QStringLiteral("/bukurea");
    if (!QFile::copy(QStringLiteral(BUKUREA_EXECUTABLE), program))
        qFatal("cannot copy the program");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return program;
}

// Without any display: a command that made a window would fail to start.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

struct Run {
    int exitCode = -1;
    QStringList out, err;
};

Run run(const QString &program, const QStringList &arguments, const QString &workingDirectory)
{
    QProcess p;
    p.setProcessEnvironment(withoutDisplay());
    p.setWorkingDirectory(workingDirectory);
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        qFatal("the program did not end by itself");
    auto lines = [](const QByteArray &b) { return QString::fromUtf8(b).split(u'\n', Qt::SkipEmptyParts); };
    return {p.exitCode(), lines(p.readAllStandardOutput()), lines(p.readAllStandardError())};
}

// Complete: the whole collection is there and SQLite finds no fault.
QString checkComplete(const QString &path, int books)
{
    sqlite3 *db = nullptr;
    QString verdict;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        auto one = [db](const char *sql) {
            sqlite3_stmt *st = nullptr;
            QString v = QStringLiteral("(failed)");
            if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
                v = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
            return v;
        };
        verdict = one("PRAGMA integrity_check") + u' ' + one("SELECT count(*) FROM tabel");
    }
    sqlite3_close(db);
    return verdict == QStringLiteral("ok %1").arg(books) ? QString() : path + QStringLiteral(": ") + verdict;
}

} // namespace

// bukurea --backup and --restore FILE as a script runs them: output, exit
// status, no display needed, and a backup killed at any moment.
class TestBackupCli : public QObject {
    Q_OBJECT
private slots:
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); // the one line on standard error, in part
        QTest::newRow("backup") << QStringList{"--backup"} << "" << 0 << "";
        QTest::newRow("backup without a collection")
            << QStringList{"--backup"} << "nocollection" << 1 << "バックアップを作成できませんでした。 ";
        QTest::newRow("restore") << QStringList{"--restore", "old.mdb"} << "" << 0 << "";
        QTest::newRow("restore of a damaged file")
            << QStringList{"--restore", "old.mdb"} << "damaged" << 1 << "このファイルからは復元できません。 ";
        QTest::newRow("restore of a missing file")
            << QStringList{"--restore", "nothere.mdb"} << "" << 1 << "（ファイルまたはフォルダーが見つかりません）";
        QTest::newRow("restore without a file")
            << QStringList{"--restore"} << "" << 2 << "usage: bukurea --restore FILE";
        QTest::newRow("backup with a file") << QStringList{"--backup", "x"} << "" << 2 << "usage: bukurea --backup";
    }
    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, setup);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        AppDir dir;
        const QString program = installProgram(dir);
        const QList<Book> before = {book({"1", "吾輩は猫である"}), book({"2", "坊っちゃん"})};
        const QList<Book> old = {book({"7", "三四郎"})};
        dir.insert(before);
        QTemporaryDir work; // the working directory, where FILE is named
        execOn(work.filePath(QStringLiteral("old.mdb")), store::createTableStatement());
        execOn(work.filePath(QStringLiteral("old.mdb")),
               QStringLiteral("INSERT INTO tabel (蔵書番号, 書名) VALUES (7, '三四郎')"));
        if (setup == QLatin1String("nocollection"))
            QFile::remove(dir.dbPath());
        if (setup == QLatin1String("damaged")) {
            QFile f(work.filePath(QStringLiteral("old.mdb")));
            f.open(QIODevice::ReadWrite);
            f.seek(100);
            f.write(QByteArray(4000, '\xff'));
        }
        const QByteArray collection = digest(dir.dbPath());

        const Run r = run(program, arguments, work.path());
        QCOMPARE(r.exitCode, exitCode);
        if (exitCode == 0) {
            QCOMPARE(r.err, QStringList());
            // One line: the path of the backup made, which holds the collection as it was.
            QCOMPARE(r.out.size(), 1);
            QVERIFY2(QFileInfo(r.out[0]).absolutePath() == dir.path() + QStringLiteral("/backup"),
                     qPrintable(r.out[0]));
            QCOMPARE(rowsOf(r.out[0]), before);
            QCOMPARE(dir.rows(), arguments[0] == QLatin1String("--restore") ? old : before);
        } else {
            QCOMPARE(r.out, QStringList());
            QCOMPARE(r.err.size(), 1);
            QVERIFY2(r.err[0].contains(said), qPrintable(r.err[0]));
            QCOMPARE(digest(dir.dbPath()), collection);
            QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/backup"))
                    || QDir(dir.path() + QStringLiteral("/backup")).isEmpty());
        }
    }

    // A backup of a large collection killed at any moment leaves no file
    // named like a backup that is not complete.
    void killedBackup()
    {
        AppDir dir;
        const int books = 300000;
        dir.exec(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                           "INSERT INTO tabel SELECT i, '書名' || hex(randomblob(40)), '著者' || i, '出版社', 1990, "
                           "'9 文学', '棚', '可', hex(randomblob(20)) FROM n")
                .arg(books));
        const QString program = installProgram(dir);
        const QString folder = dir.path() + QStringLiteral("/backup");

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run(program, {QStringLiteral("--backup")}, dir.path()).exitCode, 0);
        const qint64 whole = timer.elapsed();

        QSet<QString> unfinished; // copies that a kill interrupted, under their temporary names
        for (int step = 1; step <= 8; ++step) {
            QProcess p;
            p.setProcessEnvironment(withoutDisplay());
            p.start(program, {QStringLiteral("--backup")});
            QVERIFY(p.waitForStarted());
            QThread::msleep(ulong(whole * step / 8));
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished();
            const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
            for (const QString &f : left) {
                if (f.startsWith(u'.'))
                    unfinished << f;
                else
                    QVERIFY2(f.contains(QRegularExpression(QStringLiteral("^BR-\\d{8}-\\d{6}\\.mdb$"))), qPrintable(f));
            }
            for (const QString &f : QDir(folder).entryList({QStringLiteral("BR-*.mdb")}, QDir::Files)) {
                const QString fault = checkComplete(folder + u'/' + f, books);
                QVERIFY2(fault.isEmpty(), qPrintable(fault));
            }
        }
        qInfo("a whole backup took %lld ms; %d of 8 kills left an unfinished copy under a temporary name", whole,
              int(unfinished.size()));
        // The next backup clears what the killed ones left.
        QCOMPARE(run(program, {QStringLiteral("--backup")}, dir.path()).exitCode, 0);
        QCOMPARE(QDir(folder).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList());
    }

    // A windowless command loads none of the libraries of the windows (they
    // take most of a short command's time); a start with windows loads them
    // from the module beside the program, and one without it says so.
    void windowsOnlyWhenShown()
    {
        AppDir dir;
        dir.insert({book({"1", "吾輩は猫である"})});
        const QString program = installProgram(dir);
        QTemporaryDir log;
        QProcess p;
        QProcessEnvironment env = withoutDisplay();
        env.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("libs"));
        env.insert(QStringLiteral("LD_DEBUG_OUTPUT"), log.filePath(QStringLiteral("ld")));
        p.setProcessEnvironment(env);
        p.start(program, {QStringLiteral("--backup")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QString loaded;
        for (const QString &f : QDir(log.path()).entryList(QDir::Files)) {
            QFile file(log.filePath(f));
            QVERIFY(file.open(QIODevice::ReadOnly));
            loaded += QString::fromUtf8(file.readAll());
        }
        QVERIFY2(loaded.contains(QStringLiteral("libQt6Core.so")), "the loader's log is empty");
        for (const char *windows : {"libQt6Gui.so", "libQt6Widgets.so"})
            QVERIFY2(!loaded.contains(QLatin1String(windows)), windows);

        const Run r = run(program, {}, dir.path());
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QStringList());
        QVERIFY2(r.err.value(0).startsWith(QStringLiteral("bukurea: ウィンドウを表示できません。")),
                 qPrintable(r.err.join(u'\n')));
    }

    // In a folder whose name is not UTF-8 the commands say so in one line
    // and end with status 1 (no abort).
    void folderNameNotUtf8_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("backup") << QStringList{"--backup"};
        QTest::newRow("restore") << QStringList{"--restore", "old.mdb"};
    }
    void folderNameNotUtf8()
    {
        QFETCH(QStringList, arguments);
        AppDir dir;
        installProgram(dir);
        QTemporaryDir work;
        execOn(work.filePath(QStringLiteral("old.mdb")), store::createTableStatement());
        // The folder is reached through a link with a readable name; the
        // program finds its own folder by the real one.
        const QByteArray real = QFile::encodeName(work.path()) + "/\xff\xfe";
        QVERIFY(::rename(QFile::encodeName(dir.path()).constData(), real.constData()) == 0);
        QVERIFY(::symlink(real.constData(), QFile::encodeName(work.filePath(QStringLiteral("app"))).constData()) == 0);
        const Run r = run(work.filePath(QStringLiteral("app/bukurea")), arguments, work.path());
        ::rename(real.constData(), QFile::encodeName(dir.path()).constData());
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QStringList());
        QCOMPARE(r.err.size(), 1);
        QVERIFY2(r.err[0].contains(QStringLiteral("アプリケーションのフォルダーの名前を読めません。")),
                 qPrintable(r.err[0]));
    }
};

QTEST_GUILESS_MAIN(TestBackupCli)
#include "test_backup_cli.moc"
