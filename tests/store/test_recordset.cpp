#include "app/module1.h"
#include "store/booktable.h"
#include "store/datacontrol.h"
#include "store/error.h"
#include "store/recordset.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QTest>
#include <csignal>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

std::unique_ptr<store::RecordSet> openSet(const AppDir &dir, const QString &source)
{
    return std::make_unique<store::RecordSet>(store::Connection::open(dir.dbPath()), source);
}

QStringList column(store::RecordSet &rs, int col)
{
    QStringList out;
    for (int i = 0; i < rs.recordCount(); ++i)
        out << (rs.row(i)[col].isNull() ? QStringLiteral("NULL") : rs.text(i, col));
    return out;
}

} // namespace

class TestRecordSet : public QObject {
    Q_OBJECT
private slots:
    void openFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << "missing" << "見つかりません";
        QTest::newRow("not a database") << "garbage" << "データベース ファイルではありません";
        QTest::newRow("no book table") << "notable" << "tabel がありません";
        QTest::newRow("missing field") << "nofield" << "キーワード";
    }
    void openFailures()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        AppDir dir;
        QFile::remove(dir.dbPath());
        if (setup == QLatin1String("garbage")) {
            QFile f(dir.dbPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, 'x'));
        } else if (setup == QLatin1String("notable")) {
            dir.exec(QStringLiteral("CREATE TABLE other (a)"));
        } else if (setup == QLatin1String("nofield")) {
            dir.exec(QStringLiteral("CREATE TABLE tabel (蔵書番号, 書名, 著者名, 出版社, 出版年, 分類, 保管場所, 貸出)"));
        }
        try {
            store::Connection::open(dir.dbPath());
            QFAIL("opened");
        } catch (const store::Error &e) {
            QVERIFY2(e.message().contains(message), qPrintable(e.message()));
            QVERIFY2(e.message().contains(dir.dbPath()), qPrintable(e.message()));
        }
        // Opening never makes a database file.
        QCOMPARE(QFile::exists(dir.dbPath()), setup != QLatin1String("missing"));
    }

    void pathWithBlanksAndJapanese()
    {
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/本 棚 XXXXXX"));
        Module1::setApplicationDirectory(dir.path());
        Module1::computeDatabasePath();
        Module1::setApplicationDirectory(QString());
        QCOMPARE(Module1::databasePath(), dir.path() + QStringLiteral("/BR.mdb"));
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(Module1::databasePath().toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_exec(db,
                     "CREATE TABLE tabel (蔵書番号 INTEGER, 書名 TEXT, 著者名 TEXT, 出版社 TEXT, 出版年 INTEGER, "
                     "分類 TEXT, 保管場所 TEXT, 貸出 TEXT, キーワード TEXT); INSERT INTO tabel (書名) VALUES ('本');",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
        store::RecordSet rs(store::Connection::open(Module1::databasePath()), QStringLiteral("tabel"));
        QCOMPARE(rs.fieldText(QStringLiteral("書名")), QStringLiteral("本"));
    }

    void badStatementNamesTheField()
    {
        AppDir dir;
        QVERIFY_THROWS_EXCEPTION(store::Error, openSet(dir, QStringLiteral("select * from tabel where 題名 like '*';")));
    }

    // The same searches in a file that keeps its text as UTF-8 and in one
    // that keeps it as UTF-16 (made by another tool).
    void searchMatchesLikeTheScreensExpect_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::newRow("UTF-8") << QStringLiteral("UTF-8");
        QTest::newRow("UTF-16le") << QStringLiteral("UTF-16le");
        QTest::newRow("UTF-16be") << QStringLiteral("UTF-16be");
    }
    void searchMatchesLikeTheScreensExpect()
    {
        QFETCH(QString, encoding);
        AppDir dir;
        QVERIFY(QFile::remove(dir.dbPath()));
        dir.exec(QStringLiteral("PRAGMA encoding = '%1'; %2").arg(encoding, store::createTableStatement()));
        dir.insert({book({"1", "吾輩は猫である", "夏目漱石", nullptr, "1905"}),
                    book({"10", "猫の事務所", "宮沢賢治", nullptr, nullptr}),
                    book({"21", "O'Brien の本", "Flann O'Brien", nullptr, "2020"}),
                    book({nullptr, "ＡＢＣ入門", nullptr, nullptr, "1999.5"}),
                    book({"-7", "ﾊﾟﾝの本", nullptr, nullptr, nullptr})});
        const auto hits = [&](const char *field, const QString &keyword) {
            auto rs = openSet(dir, QStringLiteral("select * from tabel where %1 like '*%2*';")
                                       .arg(QString::fromUtf8(field), store::quoteText(keyword)));
            return column(*rs, 1);
        };
        QCOMPARE(hits("蔵書番号", QStringLiteral("1")), QStringList({"吾輩は猫である", "猫の事務所", "O'Brien の本"}));
        QCOMPARE(hits("蔵書番号", QString()),
                 QStringList({"吾輩は猫である", "猫の事務所", "O'Brien の本", "ﾊﾟﾝの本"}));
        QCOMPARE(hits("蔵書番号", QStringLiteral("-")), QStringList({"ﾊﾟﾝの本"}));
        QCOMPARE(hits("出版年", QStringLiteral("20")), QStringList({"O'Brien の本"}));
        QCOMPARE(hits("出版年", QStringLiteral("9.5")), QStringList({"ＡＢＣ入門"}));
        QCOMPARE(hits("書名", QStringLiteral("パン")), QStringList({"ﾊﾟﾝの本"}));
        QCOMPARE(hits("書名", QStringLiteral("の本")), QStringList({"O'Brien の本", "ﾊﾟﾝの本"}));
        QCOMPARE(hits("書名", QStringLiteral("abc")), QStringList({"ＡＢＣ入門"}));
        QCOMPARE(hits("著者名", QStringLiteral("O'Brien")), QStringList({"O'Brien の本"}));
        QCOMPARE(hits("出版社", QString()), QStringList());
        QCOMPARE(hits("書名", QStringLiteral("猫#")), QStringList());
    }

    void orderFollowsNumbersThenText()
    {
        AppDir dir;
        dir.insert({book({"10", "a"}), book({"2", "b"}), book({"abc", "c"}), book({nullptr, "d"}), book({"１", "e"}),
                    book({"2", "f"})});
        auto asc = openSet(dir, QStringLiteral("select * from tabel order by 蔵書番号 asc;"));
        QCOMPARE(column(*asc, 1), QStringList({"d", "b", "f", "a", "c", "e"}));
        auto desc = openSet(dir, QStringLiteral("select * from tabel order by 蔵書番号 desc;"));
        QCOMPARE(column(*desc, 1), QStringList({"e", "c", "a", "b", "f", "d"}));
    }

    void emptySetIsHarmless()
    {
        AppDir dir;
        auto rs = openSet(dir, QStringLiteral("tabel"));
        QCOMPARE(rs->recordCount(), 0);
        QVERIFY(!rs->hasCurrent());
        rs->moveLast();
        rs->moveNext();
        rs->moveFirst();
        QCOMPARE(rs->recordCount(), 0);
        QCOMPARE(rs->absolutePosition(), -1);
        QCOMPARE(rs->fieldText(QStringLiteral("書名")), QString());
        QVERIFY_THROWS_EXCEPTION(store::Error, rs->edit());
        QVERIFY_THROWS_EXCEPTION(store::Error, rs->deleteCurrent());
        QVERIFY_THROWS_EXCEPTION(store::Error, rs->update()); // nothing pending
        rs->cancelUpdate();
        QCOMPARE(dir.count(), 0);
    }

    void movesAndPositions()
    {
        AppDir dir;
        QList<Book> books;
        for (int i = 0; i < 20000; ++i)
            books << book({QByteArray::number(i + 1).constData(), "title"});
        dir.insert(books);
        auto rs = openSet(dir, QStringLiteral("select * from tabel order by 蔵書番号 desc;"));
        int repositions = 0;
        connect(rs.get(), &store::RecordSet::repositioned, this, [&] { ++repositions; });
        QCOMPARE(rs->recordCount(), 20000);
        QCOMPARE(rs->fieldText(QStringLiteral("蔵書番号")), QStringLiteral("20000"));
        rs->moveLast();
        QCOMPARE(rs->absolutePosition(), 19999);
        QCOMPARE(rs->fieldText(QStringLiteral("蔵書番号")), QStringLiteral("1"));
        rs->moveNext(); // stays on the last row
        QCOMPARE(rs->absolutePosition(), 19999);
        rs->movePrevious();
        QCOMPARE(rs->fieldText(QStringLiteral("蔵書番号")), QStringLiteral("2"));
        rs->moveFirst();
        rs->movePrevious();
        QCOMPARE(rs->absolutePosition(), 0);
        QCOMPARE(repositions, 5);
        // Every row is reachable, in order, through the block cache.
        for (int i = 0; i < 20000; i += 997)
            QCOMPARE(rs->text(i, 0), QString::number(20000 - i));
    }

    void writesThroughBoundControls()
    {
        AppDir dir;
        dir.insert({book({"1", "old", "author"})});
        store::DataControl data;
        QLineEdit title, number;
        data.bind(&title, QStringLiteral("書名"));
        data.bind(&number, QStringLiteral("蔵書番号"));
        data.setDatabaseName(dir.dbPath());
        data.setRecordSource(QStringLiteral("tabel"));
        data.refresh();
        QCOMPARE(title.text(), QStringLiteral("old"));

        // A new row: bound controls empty, written with their contents, empty as NULL.
        data.recordset()->addNew();
        QCOMPARE(title.text(), QString());
        title.setText(QStringLiteral("新しい本"));
        data.recordset()->update();
        QCOMPARE(dir.rows(), QList<Book>({book({"1", "old", "author"}), book({nullptr, "新しい本"})}));

        // An edit writes only the bound fields; other fields keep their values.
        data.recordset()->moveFirst();
        data.recordset()->edit();
        title.setText(QStringLiteral("new"));
        number.setText(QString());
        data.recordset()->update();
        QCOMPARE(dir.rows().first(), book({nullptr, "new", "author"}));

        // Edits that are not written are dropped by a move or a cancel.
        title.setText(QStringLiteral("not written"));
        data.recordset()->moveLast();
        data.recordset()->moveFirst();
        QCOMPARE(title.text(), QStringLiteral("new"));
        data.recordset()->edit();
        title.setText(QStringLiteral("not written"));
        data.recordset()->cancelUpdate();
        QCOMPARE(dir.rows().first(), book({nullptr, "new", "author"}));

        data.recordset()->deleteCurrent();
        QVERIFY(!data.recordset()->hasCurrent());
        QCOMPARE(dir.rows(), QList<Book>({book({nullptr, "新しい本"})}));
    }

    void refusedWriteLeavesFileUnchanged()
    {
        AppDir dir;
        dir.insert({book({"1", "a"})});
        auto rs = openSet(dir, QStringLiteral("tabel"));
        rs->setBoundValues([] { return QHash<QString, QString>{{QStringLiteral("書名"), QStringLiteral("b")}}; });
        // Another program holds the file locked for writing.
        sqlite3 *other = nullptr;
        sqlite3_open(dir.dbPath().toUtf8().constData(), &other);
        sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        rs->addNew();
        try {
            rs->update();
            QFAIL("written");
        } catch (const store::Error &e) {
            QVERIFY2(e.message().contains(dir.dbPath()), qPrintable(e.message()));
        }
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(dir.count(), 1);
        // The pending row is still there: the user can retry.
        QCOMPARE(rs->editMode(), store::RecordSet::EditMode::Adding);
        rs->update();
        QCOMPARE(dir.count(), 2);
    }

    void killedWriterLeavesFileIntact()
    {
        AppDir dir;
        QList<Book> books;
        for (int i = 0; i < 500; ++i)
            books << book({"0", "0", "0", "0", "0", "0", "0", "0", "0"});
        dir.insert(books);
        int pipeFd[2];
        QVERIFY(pipe(pipeFd) == 0);
        const pid_t child = fork();
        if (child == 0) {
            // Rewrites every row over and over, each one in its own transaction.
            close(pipeFd[0]);
            auto rs = openSet(dir, QStringLiteral("tabel"));
            for (int k = 1;; ++k) {
                const QString v = QString::number(k);
                QHash<QString, QString> values;
                for (const QString &f : store::fieldNames())
                    values.insert(f, v);
                rs->setBoundValues([values] { return values; });
                rs->moveTo(k % rs->recordCount());
                rs->edit();
                rs->update();
                if (k == 50)
                    (void)!write(pipeFd[1], "x", 1);
            }
        }
        close(pipeFd[1]);
        char c;
        QCOMPARE(read(pipeFd[0], &c, 1), ssize_t(1));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(pipeFd[0]);

        auto rs = openSet(dir, QStringLiteral("tabel"));
        QCOMPARE(rs->recordCount(), 500);
        for (int i = 0; i < 500; ++i) {
            for (int col = 1; col < 9; ++col)
                QCOMPARE(rs->text(i, col), rs->text(i, 0));
        }
        sqlite3 *db = nullptr;
        sqlite3_open(dir.dbPath().toUtf8().constData(), &db);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
        QCOMPARE(sqlite3_step(st), SQLITE_ROW);
        QCOMPARE(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0))), QStringLiteral("ok"));
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
};

QTEST_MAIN(TestRecordSet)
#include "test_recordset.moc"
