#include "store/booktable.h"
#include "store/connection.h"
#include "store/rowidlist.h"
#include "support/appdir.h"

#include <QTest>
#include <optional>
#include <sqlite3.h>

using testsupport::AppDir;

namespace {

constexpr int Books = 200000;

} // namespace

class TestRowidList : public QObject {
    Q_OBJECT

private slots:
    // A list keeps the room its rows need, whatever the count it was told
    // to expect: a search that finds a few rows of a large table must not
    // keep memory for the whole table while it is shown, nor a list read
    // against a stale count more than twice its rows.
    void roomFollowsRowsFound_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<std::optional<qint64>>("expected");
        QTest::addColumn<QList<qint64>>("found"); // the first rows found; all of them when short
        QTest::addColumn<int>("size");
        QTest::newRow("3 rows of a large table") << QStringLiteral("書名 = 'needle'") << std::optional<qint64>(Books)
                                                 << QList<qint64>{7, 70000, 140000} << 3;
        QTest::newRow("no rows of a large table")
            << QStringLiteral("書名 = 'none'") << std::optional<qint64>(Books) << QList<qint64>{} << 0;
        QTest::newRow("3 rows, no count known")
            << QStringLiteral("書名 = 'needle'") << std::optional<qint64>() << QList<qint64>{7, 70000, 140000} << 3;
        QTest::newRow("the whole table, as counted")
            << QString() << std::optional<qint64>(Books) << QList<qint64>{1, 2, 3} << Books;
        QTest::newRow("the whole table, counted before books were added")
            << QString() << std::optional<qint64>(10) << QList<qint64>{1, 2, 3} << Books;
    }
    void roomFollowsRowsFound()
    {
        QFETCH(QString, where);
        QFETCH(std::optional<qint64>, expected);
        QFETCH(QList<qint64>, found);
        QFETCH(int, size);
        static AppDir dir;
        static const bool filled = [] {
            dir.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                    "INSERT INTO tabel(蔵書番号, 書名) SELECT i, CASE WHEN i IN (7, 70000, 140000) "
                                    "THEN 'needle' ELSE 'hay' END FROM n")
                         .arg(Books));
            return true;
        }();
        Q_UNUSED(filled);
        const auto connection = store::Connection::open(dir.dbPath());
        QString sql = QStringLiteral("SELECT %1 FROM %2").arg(connection->rowid(), store::tableName());
        if (!where.isEmpty())
            sql += QStringLiteral(" WHERE ") + where;
        store::Prepared q(connection->prepare(sql + QStringLiteral(" ORDER BY 1")));

        store::RowidList list;
        list.read(*connection, q.get(), QStringLiteral("読めません"), store::RowidList::Order::Ascending, expected);
        QVERIFY(list.listed());
        QCOMPARE(list.size(), size);
        for (int i = 0; i < found.size(); ++i)
            QCOMPARE(list[i], found[i]);
        QVERIFY2(list.capacity() <= std::max<std::size_t>(4, 2 * std::size_t(size)),
                 qPrintable(QStringLiteral("room for %1 rows").arg(list.capacity())));

        list.release();
        QVERIFY(!list.listed());
        QCOMPARE(list.capacity(), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestRowidList)
#include "test_rowidlist.moc"
