#include "store/backup.h"
#include "store/durablefile.h"
#include "store/error.h"
#include "support/appdir.h"
#include "support/unavailable.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>

using namespace testsupport;

Q_DECLARE_METATYPE(store::Backups::Copy)

namespace {

const QList<Book> someBooks = {
    book({"1", "吾輩は猫である", "夏目漱石", "岩波書店", "1905", "9 文学", "書斎", "可", "猫"}),
    book({"2", "坊っちゃん", "夏目漱石", nullptr, "1906", "9 文学", nullptr, "中", nullptr}),
    book({"3", "O'Brien の本", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}),
};

const QDateTime morning(QDate(2024, 3, 1), QTime(9, 0, 0));

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "missing";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// Every name in a folder, hidden ones included, with the digest of each file.
QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> out;
    const QDir dir(folder);
    for (const QString &f : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        out[f] = digest(dir.filePath(f));
    return out;
}

QStringList names(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << QFileInfo(p).fileName();
    return out;
}

QString backupName(int day, const char *time = "090000")
{
    return QStringLiteral("BR-202403%1-%2.mdb").arg(day, 2, 10, QLatin1Char('0')).arg(QLatin1String(time));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A collection large enough to span many pages (about 300 KB).
void fillCollection(const AppDir &dir, int books = 2000)
{
    dir.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                            "INSERT INTO tabel SELECT i, '書名' || hex(randomblob(40)), '著者', '出版社', 1990, "
                            "'9 文学', '棚', '可', 'キーワード' FROM n")
                 .arg(books));
}

// Run as a program of its own (--writer FILE): changes every book's 出版年
// in one transaction after another until killed, so that every state of
// the file has one year in all its books.
int writeForever(const char *path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db, 10000);
    std::fputs("writing\n", stdout);
    std::fflush(stdout);
    for (;;)
        sqlite3_exec(db, "UPDATE tabel SET 出版年 = 出版年 + 1", nullptr, nullptr, nullptr);
}

// Run as a program of its own (--try-write FILE): one change without
// waiting; exit status 0 when it was written, 1 when the file was locked.
int tryWrite(const char *path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE, nullptr);
    const int rc = sqlite3_exec(db, "UPDATE tabel SET 出版年 = 出版年 + 1", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_OK ? 0 : 1;
}

// What a backup holds, in one line: its integrity, its count of books and
// of distinct years (1 for a consistent state of writeForever's file).
QString stateOf(const QString &path)
{
    sqlite3 *db = nullptr;
    QStringList out;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (const char *sql : {"PRAGMA integrity_check", "SELECT count(*) FROM tabel",
                            "SELECT count(DISTINCT 出版年) FROM tabel", "PRAGMA journal_mode"}) {
        sqlite3_stmt *st = nullptr;
        QString v = QStringLiteral("(failed)");
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            v = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        out << v;
    }
    sqlite3_close(db);
    return out.join(u' ');
}

// A backup that fails leaves no trace: what was in the folder stays, and no
// file of a backup's name or temporary name is added.
struct Failure {
    QString message;
    QMap<QString, QByteArray> before, after;
};

} // namespace

// Backups of the collection: when one is made, what it holds, how many are
// kept, what happens when one cannot be made, and restoring one.
class TestBackup : public QObject {
    Q_OBJECT
private slots:
    // The first backup of a day holds the collection as it was; later ones
    // that day are not due; the next day one is due again; two made in the
    // same second do not replace each other.
    void oneADay()
    {
        AppDir dir;
        dir.insert(someBooks);
        QDateTime now = morning;
        store::Backups backups(dir.dbPath(), {[&] { return now; }, 200, 10});

        QVERIFY(backups.dueToday());
        const QString first = backups.makeIfDue();
        QCOMPARE(QFileInfo(first).absolutePath(), QDir(dir.path()).filePath(QStringLiteral("backup")));
        QCOMPARE(QFileInfo(first).fileName(), backupName(1));
        QCOMPARE(rowsOf(first), someBooks);

        dir.exec(QStringLiteral("DELETE FROM tabel WHERE 蔵書番号 = 2"));
        now = now.addSecs(14 * 3600 + 59 * 60 + 59); // 23:59:59
        QVERIFY(!backups.dueToday());
        QCOMPARE(backups.makeIfDue(), QString());
        QCOMPARE(names(backups.files()), QStringList{backupName(1)});

        now = QDateTime(QDate(2024, 3, 2), QTime(0, 0, 1));
        QVERIFY(backups.dueToday());
        const QString second = backups.makeIfDue();
        QCOMPARE(QFileInfo(second).fileName(), backupName(2, "000001"));
        QCOMPARE(rowsOf(second), (QList<Book>{someBooks[0], someBooks[2]}));
        QCOMPARE(rowsOf(first), someBooks);

        // Made at the same second: the later one takes the next free second.
        const QString third = backups.make();
        QCOMPARE(QFileInfo(third).fileName(), backupName(2, "000002"));
        QCOMPARE(names(backups.files()),
                 (QStringList{backupName(1), backupName(2, "000001"), backupName(2, "000002")}));
    }

    // The newest ten are kept; the backup just made is kept whatever its
    // date; files that are not backups are never touched.
    void retention_data()
    {
        QTest::addColumn<QList<int>>("existingDays");
        QTest::addColumn<int>("today");
        QTest::addColumn<QList<int>>("keptDays");
        QList<int> nine, ten, twelve, later;
        for (int d = 1; d <= 12; ++d) {
            if (d <= 9)
                nine << d;
            if (d <= 10)
                ten << d;
            twelve << d;
            later << d + 12;
        }
        later = later.mid(0, 10); // 13 ... 22
        QTest::newRow("nine kept, the tenth added") << nine << 20 << (QList<int>(nine) << 20);
        QTest::newRow("ten: the oldest goes") << ten << 20 << (ten.mid(1) << 20);
        QTest::newRow("twelve: the three oldest go") << twelve << 20 << (twelve.mid(3) << 20);
        QTest::newRow("clock set back: the new one stays, the oldest other goes")
            << later << 1 << (QList<int>{1} << later.mid(1));
    }
    void retention()
    {
        QFETCH(QList<int>, existingDays);
        QFETCH(int, today);
        QFETCH(QList<int>, keptDays);
        AppDir dir;
        dir.insert(someBooks);
        const QString folder = dir.path() + QStringLiteral("/backup");
        QDir().mkpath(folder);
        for (int d : existingDays)
            QFile::copy(dir.dbPath(), folder + u'/' + backupName(d));
        const QStringList others = {QStringLiteral("BR-20240301.mdb"), QStringLiteral("notes.txt"),
                                    QStringLiteral("BR-20240301-0900.mdb")};
        for (const QString &o : others)
            writeFile(folder + u'/' + o, "x");

        store::Backups backups(dir.dbPath(), {[&] { return QDateTime(QDate(2024, 3, today), QTime(9, 0)); }, 200, 10});
        const QString made = backups.make();

        QStringList expected;
        for (int d : keptDays)
            expected << backupName(d);
        expected.sort();
        QCOMPARE(names(backups.files()), expected);
        QVERIFY(backups.files().contains(made));
        for (const QString &o : others)
            QVERIFY2(QFile::exists(folder + u'/' + o), qPrintable(o));
    }

    // A backup that cannot be made says why, naming the file or folder,
    // and changes nothing: the backups made before stay as they were and no
    // file named like a backup is left.
    void failures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("named");
        QTest::newRow("no collection") << "missing"
                                       << "（ファイルまたはフォルダーが見つかりません）"
                                       << "BR.mdb";
        QTest::newRow("a file where the folder belongs") << "blocked"
                                                         << "同じ名前のファイルがあって"
                                                         << "backup";
        QTest::newRow("collection in use by another program") << "busy"
                                                              << "（ファイルは他のプログラムが使用中です）"
                                                              << "BR.mdb";
        QTest::newRow("read-only folder")
            << "readonly"
            << (geteuid() == 0 ? "（読み取り専用の場所には書き込めません）" : "（アクセスが許可されていません）")
            << "backup/BR-20240301-090000.mdb";
        QTest::newRow("full disk") << "full"
                                   << "（ディスクの空き容量が足りません）"
                                   << "backup/BR-20240301-090000.mdb";
    }
    void failures()
    {
        QFETCH(QString, setup);
        QFETCH(QString, cause);
        QFETCH(QString, named);
        AppDir dir;
        fillCollection(dir);
        const QString folder = dir.path() + QStringLiteral("/backup");
        const QString yesterday = folder + u'/' + QStringLiteral("BR-20240229-180000.mdb");
        std::optional<FaultyFolder> faulty;
        std::optional<FileLock> lock;
        if (setup == QLatin1String("readonly") || setup == QLatin1String("full")) {
            faulty.emplace(folder, setup == QLatin1String("full") ? FaultyFolder::Full : FaultyFolder::ReadOnly);
            if (!faulty->available())
                SKIP_UNAVAILABLE("this system cannot make such a folder for the test");
        } else if (setup != QLatin1String("blocked")) {
            QDir().mkpath(folder);
        }
        if (setup != QLatin1String("blocked"))
            writeFile(yesterday, "an earlier backup");
        if (faulty)
            faulty->seal();
        if (setup == QLatin1String("missing"))
            QFile::remove(dir.dbPath());
        if (setup == QLatin1String("blocked"))
            writeFile(folder, "not a folder");
        if (setup == QLatin1String("busy"))
            lock.emplace(dir.dbPath());

        const auto before = contents(dir.path()), beforeInFolder = contents(folder);
        store::Backups backups(dir.dbPath(), {[] { return morning; }, 200, 10});
        QString message;
        try {
            backups.make();
        } catch (const store::Error &e) {
            message = e.message();
        }
        QVERIFY2(message.startsWith(QStringLiteral("バックアップを作成できませんでした。\n")), qPrintable(message));
        QVERIFY2(message.contains(QDir(dir.path()).filePath(named) + u'\n'), qPrintable(message));
        QVERIFY2(message.contains(cause), qPrintable(message));
        QCOMPARE(contents(dir.path()), before);
        QCOMPARE(contents(folder), beforeInFolder);
    }

    // A backup brings the collection back; the collection it replaces is
    // backed up first; the file restored from stays, even when it is the
    // oldest of ten.
    void restoreRoundTrip()
    {
        AppDir dir;
        dir.insert(someBooks);
        int day = 1;
        store::Backups backups(dir.dbPath(), {[&] { return QDateTime(QDate(2024, 3, day), QTime(9, 0)); }, 200, 10});
        const QString morningCopy = backups.make();
        for (day = 2; day <= 10; ++day)
            backups.make();

        dir.exec(QStringLiteral("DELETE FROM tabel WHERE 蔵書番号 IN (1, 3)"));
        dir.exec(QStringLiteral("UPDATE tabel SET 書名 = '誤って上書き'"));
        const QList<Book> damaged = dir.rows();
        const auto permissions = QFile::Permissions(0x6600); // owner read and write only
        QFile::setPermissions(dir.dbPath(), permissions);

        const QString previous = backups.restore(morningCopy);
        QCOMPARE(dir.rows(), someBooks);
        QCOMPARE(rowsOf(previous), damaged);
        QVERIFY(QFile::exists(morningCopy));
        QCOMPARE(QFile::permissions(dir.dbPath()), permissions);
        QCOMPARE(backups.files().size(), 11);
        QCOMPARE(contents(dir.path()).keys(), (QStringList{QStringLiteral("BR.mdb"), QStringLiteral("backup")}));

        // And back again: the state before the restore returns.
        backups.restore(previous);
        QCOMPARE(dir.rows(), damaged);
    }

    // A collection that is lost or damaged can still be restored: a damaged
    // one, like an Access file not yet converted, is kept in the backup
    // folder byte for byte.
    void restoreOverLostCollection_data()
    {
        QTest::addColumn<QByteArray>("current"); // empty: no file
        QTest::newRow("no collection") << QByteArray();
        QTest::newRow("damaged collection") << QByteArray("SQLite format 3\0 and then garbage", 34);
        QTest::newRow("not a database") << QByteArray(5000, 'x');
        QTest::newRow("Access file") << QByteArray("\0\1\0\0Standard Jet DB\0\0", 21) + QByteArray(8171, '\x5c');
    }
    void restoreOverLostCollection()
    {
        QFETCH(QByteArray, current);
        AppDir dir;
        dir.insert(someBooks);
        const QString good = dir.path() + QStringLiteral("/good.mdb");
        QFile::copy(dir.dbPath(), good);
        QFile::remove(dir.dbPath());
        if (!current.isEmpty())
            writeFile(dir.dbPath(), current);

        store::Backups backups(dir.dbPath(), {[] { return morning; }, 200, 10});
        const QString previous = backups.restore(good);
        QCOMPARE(dir.rows(), someBooks);
        if (current.isEmpty()) {
            QCOMPARE(previous, QString());
            QVERIFY(backups.files().isEmpty());
        } else {
            QCOMPARE(digest(previous), QCryptographicHash::hash(current, QCryptographicHash::Sha256));
        }
    }

    // A file that is not a sound collection is refused with the reason, and
    // nothing changes: the collection stays byte for byte, no backup is
    // made and nothing is left behind.
    void restoreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing") << "missing"
                                 << "（ファイルまたはフォルダーが見つかりません）";
        QTest::newRow("folder") << "folder"
                                << "（ファイルではなくフォルダーです）";
        QTest::newRow("empty") << "empty"
                               << "（空のファイルです）";
        QTest::newRow("text file") << "text"
                                   << "（データベース ファイルではありません）";
        QTest::newRow("Access file") << "access"
                                     << "（Access 形式のファイルです）";
        QTest::newRow("truncated at a page") << "truncated"
                                             << "（ファイルが壊れています）";
        QTest::newRow("truncated mid-page") << "truncated-odd"
                                            << "（ファイルが壊れています）";
        QTest::newRow("damaged in the middle") << "damaged"
                                               << "（ファイルが壊れています）";
        QTest::newRow("damaged header") << "badheader"
                                        << "（ファイルが壊れています）";
        QTest::newRow("another program's database") << "foreign"
                                                    << "（蔵書の表がありません）";
        QTest::newRow("a field missing") << "nofield"
                                         << "（蔵書の表に項目「キーワード」がありません）";
        QTest::newRow("collection in use") << "busy"
                                           << "（ファイルは他のプログラムが使用中です）";
        // What the program itself refuses to open is refused here too.
        QTest::newRow("the book table a view") << "view"
                                               << "（蔵書の表が、表ではなくビューです）";
        QTest::newRow("the book table without row numbers") << "withoutrowid"
                                                            << "（蔵書の表に行番号（rowid）がありません）";
        QTest::newRow("every row number name a field") << "rowidnames"
                                                       << "行を区別できません）";
    }
    void restoreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        AppDir dir;
        fillCollection(dir);
        QTemporaryDir elsewhere;
        const QString file = elsewhere.filePath(QStringLiteral("old.mdb"));
        QFile::copy(dir.dbPath(), file);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray good = [&] {
            QFile f(file);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        const qsizetype pages = good.size() / 4096;
        std::optional<FileLock> lock;
        if (kind == QLatin1String("missing"))
            QFile::remove(file);
        else if (kind == QLatin1String("folder"))
            QFile::remove(file), QDir().mkdir(file);
        else if (kind == QLatin1String("empty"))
            writeFile(file, {});
        else if (kind == QLatin1String("text"))
            writeFile(file, "蔵書番号,書名\n1,吾輩は猫である\n");
        else if (kind == QLatin1String("access"))
            writeFile(file, QByteArray("\0\1\0\0Standard Jet DB\0\1", 21) + QByteArray(4075, '\0'));
        else if (kind == QLatin1String("truncated"))
            writeFile(file, good.left(pages / 2 * 4096));
        else if (kind == QLatin1String("truncated-odd"))
            writeFile(file, good.left(good.size() - 1000));
        else if (kind == QLatin1String("damaged"))
            writeFile(file,
                      good.left(pages / 2 * 4096 + 100) + QByteArray(3000, 'Z') + good.mid(pages / 2 * 4096 + 3100));
        else if (kind == QLatin1String("badheader"))
            writeFile(file, good.left(16) + QByteArray(84, '\xff') + good.mid(100));
        else if (kind == QLatin1String("foreign"))
            QFile::remove(file),
                execOn(file, QStringLiteral("CREATE TABLE books (title); INSERT INTO books VALUES ('x')"));
        else if (kind == QLatin1String("nofield"))
            QFile::remove(file),
                execOn(file, QStringLiteral(
                                 "CREATE TABLE tabel (蔵書番号, 書名, 著者名, 出版社, 出版年, 分類, 保管場所, 貸出)"));
        else if (kind == QLatin1String("busy"))
            lock.emplace(dir.dbPath());
        else if (kind == QLatin1String("view"))
            QFile::remove(file), execOn(file, QStringLiteral("CREATE TABLE books (蔵書番号, 書名, 著者名, 出版社, "
                                                             "出版年, 分類, 保管場所, 貸出, キーワード); "
                                                             "CREATE VIEW tabel AS SELECT * FROM books"));
        else if (kind == QLatin1String("withoutrowid"))
            QFile::remove(file),
                execOn(file, QStringLiteral("CREATE TABLE tabel (蔵書番号 INTEGER PRIMARY KEY, 書名, 著者名, 出版社, "
                                            "出版年, 分類, 保管場所, 貸出, キーワード) WITHOUT ROWID"));
        else if (kind == QLatin1String("rowidnames"))
            QFile::remove(file),
                execOn(file, QStringLiteral("CREATE TABLE tabel (蔵書番号, 書名, 著者名, 出版社, 出版年, 分類, "
                                            "保管場所, 貸出, キーワード, rowid, _rowid_, oid)"));

        const auto before = contents(dir.path());
        store::Backups backups(dir.dbPath(), {[] { return morning; }, 200, 10});
        QString message;
        try {
            backups.restore(file);
        } catch (const store::Error &e) {
            message = e.message();
        }
        QVERIFY2(message.contains(cause), qPrintable(message));
        if (kind != QLatin1String("busy")) {
            QVERIFY2(message.startsWith(QStringLiteral("このファイルからは復元できません。\n%1\n").arg(file)),
                     qPrintable(message));
        }
        lock.reset();
        QCOMPARE(contents(dir.path()), before);
    }

    // The newest backups are kept by when they were made, not by their
    // names: a name may lie (several backups within seconds take later
    // seconds; the clock may be set back).
    void rotationByCreation_data()
    {
        QTest::addColumn<QList<int>>("clockDays"); // the clock's day for each backup, in the order made
        QList<int> fifteen(15, 1), setBack(10, 20);
        QTest::newRow("15 in the same second") << fifteen;
        QTest::newRow("clock set back after 10") << (setBack << 1 << 1 << 1);
        QTest::newRow("clock set back and forth") << (QList<int>{5, 5, 5, 5, 5, 5, 1, 1, 1, 9, 9, 9, 2, 2});
    }
    void rotationByCreation()
    {
        QFETCH(QList<int>, clockDays);
        AppDir dir;
        dir.insert(someBooks);
        int day = 1;
        store::Backups backups(dir.dbPath(), {[&] { return QDateTime(QDate(2024, 3, day), QTime(9, 0)); }, 200, 10});
        QStringList made;
        for (int d : clockDays) {
            day = d;
            made << backups.make();
            // Apart by more than the file system's clock step.
            QThread::msleep(15);
        }
        QStringList kept = backups.files(), newest = made.mid(made.size() - 10);
        kept.sort();
        newest.sort();
        QCOMPARE(kept, newest);
    }

    // Backups through links: a collection reached through a link is
    // restored into the file it points to (the link stays); a backup folder
    // that is a link is refused, so that rotation never removes files
    // somewhere else.
    void links()
    {
        AppDir dir;
        dir.insert(someBooks);
        QTemporaryDir elsewhere;
        const QString real = elsewhere.filePath(QStringLiteral("real.mdb"));
        QVERIFY(QFile::rename(dir.dbPath(), real));
        QVERIFY(QFile::link(real, dir.dbPath()));
        const QString good = dir.path() + QStringLiteral("/good.mdb");
        QFile::copy(real, good);
        execOn(good, QStringLiteral("DELETE FROM tabel WHERE 蔵書番号 = 1"));

        store::Backups backups(dir.dbPath(), {[] { return morning; }, 200, 10});
        const QString previous = backups.restore(good);
        QVERIFY(QFileInfo(dir.dbPath()).isSymLink());
        QCOMPARE(rowsOf(real), (QList<Book>{someBooks[1], someBooks[2]}));
        QCOMPARE(rowsOf(previous), someBooks);
        QCOMPARE(contents(elsewhere.path()).keys(), QStringList{QStringLiteral("real.mdb")});

        // backup/ as a link to a folder holding files named like backups.
        QTemporaryDir target;
        for (int d = 1; d <= 12; ++d)
            writeFile(target.filePath(backupName(d)), "someone else's");
        QVERIFY(QDir(dir.path() + QStringLiteral("/backup")).removeRecursively());
        QVERIFY(QFile::link(target.path(), dir.path() + QStringLiteral("/backup")));
        const auto before = contents(target.path());
        QString message;
        try {
            backups.make();
        } catch (const store::Error &e) {
            message = e.message();
        }
        QVERIFY2(message.contains(QStringLiteral("シンボリック リンク")), qPrintable(message));
        QCOMPARE(contents(target.path()), before);
    }

    // Every backup is one consistent state of the collection while another
    // process writes to it all the time, whatever its journal mode: the
    // file's bytes taken under the read lock (by the kernel or, where it
    // cannot copy, through a buffer), or SQLite's online backup in WAL mode.
    void consistentUnderWriter_data()
    {
        QTest::addColumn<QString>("journalMode");
        QTest::addColumn<bool>("kernelCopy");
        QTest::addColumn<store::Backups::Copy>("copy");
        QTest::newRow("rollback journal") << "delete" << true << store::Backups::Copy::FileBytes;
        QTest::newRow("truncated journal") << "truncate" << true << store::Backups::Copy::FileBytes;
        QTest::newRow("rollback journal, through a buffer") << "delete" << false << store::Backups::Copy::FileBytes;
        QTest::newRow("write-ahead log") << "wal" << true << store::Backups::Copy::OnlineBackup;
    }
    void consistentUnderWriter()
    {
        QFETCH(QString, journalMode);
        QFETCH(bool, kernelCopy);
        QFETCH(store::Backups::Copy, copy);
        AppDir dir;
        fillCollection(dir, 3000);
        execOn(dir.dbPath(), QStringLiteral("PRAGMA journal_mode = %1").arg(journalMode));
        store::durable::setKernelCopy(kernelCopy);
        const auto restoreCopy = qScopeGuard([] { store::durable::setKernelCopy(true); });
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--writer"), dir.dbPath()});
        QVERIFY(writer.waitForReadyRead(10000));
        store::Backups backups(dir.dbPath(), {[] { return morning; }, 10000, 30});
        QStringList states;
        QList<store::Backups::Copy> copies;
        for (int i = 0; i < 20; ++i) {
            states << stateOf(backups.make());
            copies << backups.lastCopy();
        }
        writer.kill();
        writer.waitForFinished();
        QVERIFY2(dir.rows().value(0).value(4).value_or(QString()).toInt() > 1990, "the writer wrote nothing");
        // A backup is one file: never in WAL mode, whatever the collection's.
        const QString expected = QStringLiteral("ok 3000 1 delete");
        QCOMPARE(states, QStringList(20, expected));
        QCOMPARE(copies, QList<store::Backups::Copy>(20, copy));
    }

    // How a backup is copied, and that what it holds is the collection:
    // the file's bytes where SQLite's header vouches for them, else SQLite's
    // online backup; a file SQLite cannot read is kept as it is.
    void howCopied_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<store::Backups::Copy>("copy");
        QTest::addColumn<bool>("sameBytes");
        QTest::newRow("rollback journal") << "delete" << store::Backups::Copy::FileBytes << true;
        QTest::newRow("write-ahead log") << "wal" << store::Backups::Copy::OnlineBackup << false;
        QTest::newRow("bytes after the last page") << "trailing" << store::Backups::Copy::OnlineBackup << false;
        QTest::newRow("no database") << "other" << store::Backups::Copy::AsIs << true;
        QTest::newRow("empty file") << "empty" << store::Backups::Copy::AsIs << true;
    }
    void howCopied()
    {
        QFETCH(QString, setup);
        QFETCH(store::Backups::Copy, copy);
        QFETCH(bool, sameBytes);
        AppDir dir;
        fillCollection(dir, 500);
        if (setup == QLatin1String("wal"))
            execOn(dir.dbPath(), QStringLiteral("PRAGMA journal_mode = wal"));
        QFile file(dir.dbPath());
        if (setup == QLatin1String("trailing")) {
            QVERIFY(file.open(QIODevice::Append));
            file.write(QByteArray(1000, 'x'));
            file.close();
        } else if (setup == QLatin1String("other") || setup == QLatin1String("empty")) {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(setup == QLatin1String("other") ? QByteArray(3 << 20, 'b') : QByteArray());
            file.close();
        }
        const QByteArray before = digest(dir.dbPath());
        store::Backups backups(dir.dbPath(), {[] { return morning; }, 200, 10});
        const QString made = backups.make();
        QCOMPARE(backups.lastCopy(), copy);
        QCOMPARE(digest(made) == before, sameBytes);
        if (copy != store::Backups::Copy::AsIs)
            QCOMPARE(stateOf(made), QStringLiteral("ok 500 1 delete"));
        QCOMPARE(digest(dir.dbPath()), before);
    }

    // The backup reads the collection through SQLite's own descriptor: the
    // locks another connection of this process holds on the file stay (a
    // descriptor opened and closed beside them would drop them all), a
    // reader's and a writer's alike.
    void keepsThisProcessLocks_data()
    {
        QTest::addColumn<QByteArray>("begin");
        QTest::newRow("reading") << QByteArray("BEGIN; SELECT count(*) FROM tabel");
        QTest::newRow("writing, not yet committed") << QByteArray("BEGIN IMMEDIATE; UPDATE tabel SET 分類 = '0'");
    }
    void keepsThisProcessLocks()
    {
        QFETCH(QByteArray, begin);
        AppDir dir;
        fillCollection(dir, 200);
        sqlite3 *other = nullptr;
        sqlite3_open_v2(dir.dbPath().toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr);
        QCOMPARE(sqlite3_exec(other, begin.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        const auto tryWriting = [&] {
            return QProcess::execute(QCoreApplication::applicationFilePath(),
                                     {QStringLiteral("--try-write"), dir.dbPath()});
        };
        QCOMPARE(tryWriting(), 1);
        store::Backups backups(dir.dbPath(), {[] { return morning; }, 200, 10});
        backups.make();
        QCOMPARE(backups.lastCopy(), store::Backups::Copy::FileBytes);
        QCOMPARE(tryWriting(), 1);
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(tryWriting(), 0);
    }

    // A backup or restore that was killed left its temporary file: the
    // next one removes it, and only it (a user's look-alike stays).
    void killedLeftovers()
    {
        AppDir dir;
        dir.insert(someBooks);
        const QString folder = dir.path() + QStringLiteral("/backup");
        QDir().mkpath(folder);
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        gone.waitForStarted();
        const qint64 goneId = gone.processId();
        gone.waitForFinished();
        const QString pid = QString::number(goneId);
        const QStringList ours = {folder + "/.BR-20240301-090000.mdb.bukurea-" + pid + "-aB3dE9.tmp",
                                  dir.path() + "/.BR.mdb.bukurea-" + pid + "-Zy12xw.tmp"};
        const QStringList users = {folder + "/BR-20240301-090000.mdb.tmp", dir.path() + "/BR.mdb.access-aB3dE9",
                                   folder + "/.BR-20240301-090000.mdb.bukurea-" + pid + "-aB3dE9.tmp.keep"};
        for (const QString &f : ours + users)
            writeFile(f, "x");
        const QString good = dir.path() + QStringLiteral("/good.mdb");
        QFile::copy(dir.dbPath(), good);

        store::Backups(dir.dbPath(), {[] { return morning; }, 200, 10}).restore(good);
        for (const QString &f : ours)
            QVERIFY2(!QFile::exists(f), qPrintable(f));
        for (const QString &f : users)
            QVERIFY2(QFile::exists(f), qPrintable(f));
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--writer") == 0)
        return writeForever(argv[2]);
    if (argc == 3 && qstrcmp(argv[1], "--try-write") == 0)
        return tryWrite(argv[2]);
    QCoreApplication app(argc, argv);
    TestBackup test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_backup.moc"
