// The same-book question answered through the index the file keeps beside
// the book table, while other programs write the table without it.
#include "store/bookappend.h"
#include "store/booktable.h"
#include "store/connection.h"
#include "store/samebook.h"
#include "store/samebookindex.h"
#include "support/appdir.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <sqlite3.h>

using namespace testsupport;
using store::SameBookIndex;

namespace {

void runOther(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(OTHER_PROGRAM), arguments);
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAllStandardError().constData());
}

QString ask(store::Connection &c, const QString &title, const QString &author)
{
    const store::SameBooks same = store::findSameBooks(c, title, author, 10);
    return same.numbers.join(u'、');
}

SameBookIndex::State stateOf(const store::Connection &c)
{
    store::ReadTransaction read(c, QStringLiteral("test"));
    return SameBookIndex::check(c);
}

void ownWrite(store::Connection &c, const QString &statements)
{
    c.writeTransaction(QStringLiteral("test"), [&] {
        for (const QString &sql : statements.split(u';', Qt::SkipEmptyParts)) {
            store::Prepared st(c.prepare(sql));
            if (sqlite3_step(st.get()) != SQLITE_DONE)
                c.fail(QStringLiteral("test"));
        }
    });
}

} // namespace

class TestSameBook : public QObject {
    Q_OBJECT
private slots:
    void init() { store::BusyWait::setLimit(std::chrono::milliseconds(5000)); }

    // The index is built by a first question, kept in step by this
    // program's own writes, then the table is changed by another process
    // (as a sync tool, another SQLite program or an older copy of this one
    // would) or the file is rewritten in place with a copy taken before our
    // own write and changed elsewhere. Whatever happened, the answer is the
    // one a reading of every book gives.
    void staleIndexNeverAnswersWrongly_data()
    {
        QTest::addColumn<QString>("own");     // written through this program's connection
        QTest::addColumn<QString>("how");     // sql, wal, wal-kept, or copy (rewrite with a changed copy)
        QTest::addColumn<QString>("foreign"); // written by the other process
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("expected");
        const QString recreated = QStringLiteral("CREATE TABLE old AS SELECT * FROM tabel; DROP TABLE tabel; ")
                                  + store::createTableStatement();
        const QString kafka =
            QStringLiteral("INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (4, '海辺のカフカ', '村上春樹')");
        QTest::newRow("own insert, nobody else") << kafka << "sql"
                                                 << ""
                                                 << "海辺の かふか"
                                                 << "村上 春樹"
                                                 << "4";
        QTest::newRow("own title correction") << "UPDATE tabel SET 書名 = 'ﾉﾙｳｪｲの森' WHERE 蔵書番号 = 2"
                                              << "sql"
                                              << ""
                                              << "ノルウェイの森"
                                              << "村上春樹"
                                              << "1、2";
        QTest::newRow("own deletion") << "DELETE FROM tabel WHERE 蔵書番号 = 1"
                                      << "sql"
                                      << ""
                                      << "ノルウェイの森"
                                      << "村上春樹"
                                      << "";
        QTest::newRow("own row number change") << "UPDATE tabel SET rowid = 50 WHERE 蔵書番号 = 1"
                                               << "sql"
                                               << ""
                                               << "ノルウェイの森"
                                               << "村上春樹"
                                               << "1";
        QTest::newRow("another inserts")
            << kafka << "sql"
            << "INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (9, 'ﾉﾙｳｪｲの森', '村上 春樹')"
            << "ノルウェイの森"
            << "村上春樹"
            << "1、9";
        QTest::newRow("another corrects a title to it") << kafka << "sql"
                                                        << "UPDATE tabel SET 書名 = 'のるうぇいの森' WHERE 蔵書番号 = 2"
                                                        << "ノルウェイの森"
                                                        << "村上春樹"
                                                        << "1、2";
        QTest::newRow("another corrects the author away") << kafka << "sql"
                                                          << "UPDATE tabel SET 著者名 = '村上龍' WHERE 蔵書番号 = 1"
                                                          << "ノルウェイの森"
                                                          << "村上春樹"
                                                          << "";
        QTest::newRow("another deletes our new book") << kafka << "sql"
                                                      << "DELETE FROM tabel WHERE 蔵書番号 = 4"
                                                      << "海辺のカフカ"
                                                      << "村上春樹"
                                                      << "";
        QTest::newRow("another reuses a row number")
            << kafka << "sql"
            << "DELETE FROM tabel WHERE 蔵書番号 = 3; INSERT INTO tabel (rowid, 蔵書番号, 書名, 著者名) VALUES (3, 7, "
               "'海辺のカフカ', '村上春樹')"
            << "海辺のカフカ"
            << "村上春樹"
            << "7、4";
        QTest::newRow("another moves a row") << kafka << "sql"
                                             << "UPDATE tabel SET rowid = 100 WHERE 蔵書番号 = 4"
                                             << "海辺のカフカ"
                                             << "村上春樹"
                                             << "4";
        QTest::newRow("another empties the table and adds") << kafka << "sql"
                                                            << "DELETE FROM tabel; INSERT INTO tabel (蔵書番号, 書名, "
                                                               "著者名) VALUES (5, '海辺のカフカ', '村上春樹')"
                                                            << "海辺のカフカ"
                                                            << "村上春樹"
                                                            << "5";
        QTest::newRow("another makes the table anew, rows renumbered")
            << kafka << "sql"
            << recreated
                   + "; INSERT INTO tabel SELECT * FROM old ORDER BY 蔵書番号 DESC; DROP TABLE old; "
                     "UPDATE tabel SET 書名 = '風の歌を聴け' WHERE 蔵書番号 = 1"
            << "風の歌を聴け"
            << "村上春樹"
            << "2、1";
        QTest::newRow("another writes with a write-ahead log, then leaves it")
            << kafka << "wal"
            << "INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (9, 'ノルウェイの森', '村上春樹')"
            << "ノルウェイの森"
            << "村上春樹"
            << "1、9";
        QTest::newRow("another keeps a write-ahead log")
            << kafka << "wal-kept"
            << "INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (9, 'ノルウェイの森', '村上春樹')"
            << "ノルウェイの森"
            << "村上春樹"
            << "1、9";
        // The copy and our file both had one write since the copy was
        // taken: their counters agree, their books do not.
        QTest::newRow("a copy changed elsewhere put in place")
            << kafka << "copy"
            << "INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (8, '海辺のカフカ', '村上春樹')"
            << "海辺のカフカ"
            << "村上春樹"
            << "8";
        QTest::newRow("an older copy put in place") << kafka << "copy"
                                                    << ""
                                                    << "海辺のカフカ"
                                                    << "村上春樹"
                                                    << "";
    }
    void staleIndexNeverAnswersWrongly()
    {
        QFETCH(QString, own);
        QFETCH(QString, how);
        QFETCH(QString, foreign);
        QFETCH(QString, title);
        QFETCH(QString, author);
        QFETCH(QString, expected);
        AppDir dir;
        dir.insert({book({"1", "ノルウェイの森", "村上春樹"}), book({"2", "風の歌を聴け", "村上春樹"}),
                    book({"3", "羊をめぐる冒険", "村上春樹"})});
        const QString copy = dir.path() + QStringLiteral("/copy.mdb");
        {
            auto c = store::Connection::open(dir.dbPath());
            const int rebuilds = SameBookIndex::rebuildsSoFar();
            QCOMPARE(ask(*c, QStringLiteral("風の歌を聴け"), QStringLiteral("村上春樹")), QStringLiteral("2"));
            QCOMPARE(SameBookIndex::rebuildsSoFar(), rebuilds + 1);
            QCOMPARE(stateOf(*c), SameBookIndex::State::Current);
            QVERIFY(QFile::copy(dir.dbPath(), copy));
            ownWrite(*c, own);
            QCOMPARE(stateOf(*c), SameBookIndex::State::Current);
        }
        if (how == QLatin1String("copy")) {
            if (!foreign.isEmpty())
                runOther({QStringLiteral("sql"), copy, foreign});
            runOther({QStringLiteral("rewrite"), dir.dbPath(), copy});
        } else if (!foreign.isEmpty()) {
            runOther({how, dir.dbPath(), foreign});
        }
        if (QTest::currentTestFailed())
            return;
        auto c = store::Connection::open(dir.dbPath());
        const int rebuilds = SameBookIndex::rebuildsSoFar();
        QCOMPARE(ask(*c, title, author), expected);
        // Our own writes keep the index: no pass over the table.
        if (foreign.isEmpty() && how != QLatin1String("copy"))
            QCOMPARE(SameBookIndex::rebuildsSoFar(), rebuilds);
        // The answer once more, now that the index has been looked at again.
        QCOMPARE(ask(*c, title, author), expected);
    }

    // This program's connection stays open while another program makes the
    // table anew (which takes the connection's watch on the table with the
    // old one), then registers a book: the index is never taken for current
    // without that book.
    void ownWriteAfterTheTableWasMadeAnew()
    {
        AppDir dir;
        dir.insert({book({"1", "ノルウェイの森", "村上春樹"})});
        auto c = store::Connection::open(dir.dbPath());
        QCOMPARE(ask(*c, QStringLiteral("ノルウェイの森"), QStringLiteral("村上春樹")), QStringLiteral("1"));
        runOther({QStringLiteral("sql"), dir.dbPath(),
                  QStringLiteral("CREATE TABLE old AS SELECT * FROM tabel; DROP TABLE tabel; ")
                      + store::createTableStatement()
                      + QStringLiteral("; INSERT INTO tabel SELECT * FROM old; DROP TABLE old")});
        QCOMPARE(ask(*c, QStringLiteral("ノルウェイの森"), QStringLiteral("村上春樹")), QStringLiteral("1"));
        ownWrite(*c,
                 QStringLiteral("INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (2, 'ノルウェイの森', '村上春樹')"));
        QCOMPARE(ask(*c, QStringLiteral("ノルウェイの森"), QStringLiteral("村上春樹")), QStringLiteral("1、2"));
        auto other = store::Connection::open(dir.dbPath());
        QCOMPARE(ask(*other, QStringLiteral("ノルウェイの森"), QStringLiteral("村上春樹")), QStringLiteral("1、2"));
    }

    // Many books written at once (an import) leave the index stale rather
    // than kept; it is rebuilt and right. A file that cannot be written now
    // is read whole instead of its index being rebuilt.
    void manyBooksAtOnceAndALockedFile()
    {
        AppDir dir;
        dir.insert({book({"1", "ノルウェイの森", "村上春樹"})});
        auto c = store::Connection::open(dir.dbPath());
        QCOMPARE(ask(*c, QStringLiteral("ノルウェイの森"), QStringLiteral("村上春樹")), QStringLiteral("1"));
        int n = 0;
        store::appendBooks(*c, [&](store::BookTexts &b) {
            b = {};
            b[0] = QString::number(n + 100);
            b[1] = n == 20000 ? QStringLiteral("のるうぇいの森") : QStringLiteral("本 %1").arg(n);
            b[2] = QStringLiteral("村上春樹");
            return n++ <= 20000;
        });
        QCOMPARE(stateOf(*c), SameBookIndex::State::Stale);
        QCOMPARE(ask(*c, QStringLiteral("ノルウェイの森"), QStringLiteral("村上春樹")), QStringLiteral("1、20100"));
        QCOMPARE(stateOf(*c), SameBookIndex::State::Current);

        // Another program is writing: the index cannot be rebuilt now, and
        // every book is read instead.
        runOther(
            {QStringLiteral("sql"), dir.dbPath(),
             QStringLiteral("INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (2, 'ノルウェイの森', '村上春樹')")});
        sqlite3 *writer = nullptr;
        QCOMPARE(sqlite3_open(dir.dbPath().toUtf8().constData(), &writer), SQLITE_OK);
        QCOMPARE(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        store::BusyWait::setLimit(std::chrono::milliseconds(100));
        const int rebuilds = SameBookIndex::rebuildsSoFar();
        QCOMPARE(ask(*c, QStringLiteral("ノルウェイの森"), QStringLiteral("村上春樹")), QStringLiteral("1、20100、2"));
        QCOMPARE(SameBookIndex::rebuildsSoFar(), rebuilds);
        sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(writer);
    }
};

QTEST_GUILESS_MAIN(TestSameBook)
#include "test_samebook.moc"
