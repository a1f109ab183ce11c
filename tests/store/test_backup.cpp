#include "store/backup.h"
#include "store/error.h"
#include "support/appdir.h"
#include "support/unavailable.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>

using namespace testsupport;

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
        QCOMPARE(names(backups.files()), (QStringList{backupName(1), backupName(2, "000001"), backupName(2, "000002")}));
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
        QTest::newRow("clock set back: the new one stays, the oldest other goes") << later << 1
                                                                                  << (QList<int>{1} << later.mid(1));
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
        QTest::newRow("no collection") << "missing" << "(見つかりません)" << "BR.mdb";
        QTest::newRow("a file where the folder belongs") << "blocked" << "同じ名前のファイルがあって" << "backup";
        QTest::newRow("collection in use by another program") << "busy" << "(ファイルは他のプログラムが使用中です)" << "BR.mdb";
        QTest::newRow("read-only folder") << "readonly" << (geteuid() == 0 ? "(読み取り専用の場所には書き込めません)" : "(アクセスする権限がありません)") << "backup/BR-20240301-090000.mdb";
        QTest::newRow("full disk") << "full" << "(ディスクの空き容量が足りません)" << "backup/BR-20240301-090000.mdb";
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
        QTest::newRow("missing") << "missing" << "(見つかりません)";
        QTest::newRow("folder") << "folder" << "(ファイルではなくフォルダーです)";
        QTest::newRow("empty") << "empty" << "(空のファイルです)";
        QTest::newRow("text file") << "text" << "(データベース ファイルではありません)";
        QTest::newRow("Access file") << "access" << "(Access 形式のファイルです)";
        QTest::newRow("truncated at a page") << "truncated" << "(ファイルが壊れています)";
        QTest::newRow("truncated mid-page") << "truncated-odd" << "(ファイルが壊れています)";
        QTest::newRow("damaged in the middle") << "damaged" << "(ファイルが壊れています)";
        QTest::newRow("damaged header") << "badheader" << "(ファイルが壊れています)";
        QTest::newRow("another program's database") << "foreign" << "(表 tabel がありません)";
        QTest::newRow("a field missing") << "nofield" << "(表 tabel に項目「キーワード」がありません)";
        QTest::newRow("collection in use") << "busy" << "(ファイルは他のプログラムが使用中です)";
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
            writeFile(file, good.left(pages / 2 * 4096 + 100) + QByteArray(3000, 'Z') + good.mid(pages / 2 * 4096 + 3100));
        else if (kind == QLatin1String("badheader"))
            writeFile(file, good.left(16) + QByteArray(84, '\xff') + good.mid(100));
        else if (kind == QLatin1String("foreign"))
            QFile::remove(file), execOn(file, QStringLiteral("CREATE TABLE books (title); INSERT INTO books VALUES ('x')"));
        else if (kind == QLatin1String("nofield"))
            QFile::remove(file), execOn(file, QStringLiteral("CREATE TABLE tabel (蔵書番号, 書名, 著者名, 出版社, 出版年, 分類, 保管場所, 貸出)"));
        else if (kind == QLatin1String("busy"))
            lock.emplace(dir.dbPath());

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
            QVERIFY2(message.startsWith(QStringLiteral("このファイルからは復元できません。\n%1\n").arg(file)), qPrintable(message));
        }
        lock.reset();
        QCOMPARE(contents(dir.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "test_backup.moc"
