#include "store/error.h"
#include "store/rowcache.h"

#include <QTest>
#include <map>
#include <set>

namespace {

// A file of rows by row number, with rows that fail to read while they are
// listed in `failing`; it records every read and every batch.
struct FakeReader : store::RowReader {
    std::map<qint64, QString> titles; // a row number missing here was deleted
    std::set<qint64> failing;
    QList<qint64> reads;
    int abandoned = 0;

    void batch(const std::function<bool()> &reads) override
    {
        try {
            if (!reads())
                ++abandoned;
        } catch (...) {
            ++abandoned;
            throw;
        }
    }
    bool read(qint64 rowid, store::Row &row) override
    {
        reads << rowid;
        if (failing.count(rowid))
            throw store::Error(QStringLiteral("locked"));
        const auto it = titles.find(rowid);
        if (it == titles.end())
            return false;
        row = {};
        row[1] = it->second;
        return true;
    }
};

// One request to the cache: the position asked for, the rows failing
// meanwhile, rows added to the end of the list first; what it gives ("" for
// an empty row, "!" for an error) and which rows it reads.
struct Ask {
    int position;
    QString expected;
    QList<qint64> reads;
    QList<qint64> failing = {};
    int added = 0;
};
using Script = QList<Ask>;

QList<qint64> span(qint64 from, qint64 to)
{
    QList<qint64> out;
    for (qint64 r = from; r <= to; ++r)
        out << r;
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Script)

// The row cache on its own: blocks of four rows, at most two kept, over ten
// rows numbered 100 to 109 of which 105 was deleted.
class TestRowCache : public QObject {
    Q_OBJECT
private slots:
    void reads_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<int>("abandoned");
        QTest::newRow("a row reads the rest of its block") << Script{{0, "b100", span(100, 103)}, {3, "b103", {}}} << 0;
        QTest::newRow("from the row asked for to the block's end")
            << Script{{2, "b102", span(102, 103)}, {0, "b100", span(100, 101)}, {3, "b103", {}}} << 0;
        QTest::newRow("block boundary") << Script{{3, "b103", {103}}, {4, "b104", span(104, 107)}} << 0;
        QTest::newRow("short last block, outside the list")
            << Script{{9, "b109", {109}}, {8, "b108", {108}}, {10, "", {}}, {-1, "", {}}} << 0;
        QTest::newRow("a row deleted meanwhile reads empty, once")
            << Script{{5, "", span(105, 107)}, {5, "", {}}, {6, "b106", {}}} << 0;
        QTest::newRow("a failing row is tried again on the next call")
            << Script{{1, "!", {101}, {101}}, {1, "b101", span(101, 103)}} << 1;
        QTest::newRow("a later failure keeps the rows before it")
            << Script{{0, "b100", span(100, 102), {102}}, {1, "b101", {}}, {2, "b102", span(102, 103)}} << 1;
        QTest::newRow("the block used least recently goes") << Script{{0, "b100", span(100, 103)},
                                                                      {4, "b104", span(104, 107)},
                                                                      {1, "b101", {}},
                                                                      {8, "b108", span(108, 109)},
                                                                      {2, "b102", {}},
                                                                      {5, "", span(105, 107)}}
                                                            << 0;
        QTest::newRow("rows added to a short last block")
            << Script{{9, "b109", {109}}, {10, "b110", {110}, {}, 1}, {11, "b111", {111}, {}, 1}} << 0;
    }
    void reads()
    {
        QFETCH(Script, script);
        FakeReader file;
        std::vector<qint64> rowids;
        for (qint64 r = 100; r < 110; ++r) {
            rowids.push_back(r);
            if (r != 105)
                file.titles[r] = QStringLiteral("b%1").arg(r);
        }
        store::RowCache cache(4, 2);
        for (const Ask &ask : script) {
            for (int i = 0; i < ask.added; ++i) {
                const qint64 r = rowids.back() + 1;
                rowids.push_back(r);
                file.titles[r] = QStringLiteral("b%1").arg(r);
            }
            file.failing = {ask.failing.begin(), ask.failing.end()};
            file.reads.clear();
            QString got;
            try {
                const QVariant &title = cache.row(file, rowids, ask.position)[1];
                got = title.isNull() ? QString() : title.toString();
            } catch (const store::Error &) {
                got = QStringLiteral("!");
            }
            QCOMPARE(got, ask.expected);
            QCOMPARE(file.reads, ask.reads);
        }
        QTEST(file.abandoned, "abandoned");
    }
};

QTEST_APPLESS_MAIN(TestRowCache)
#include "test_rowcache.moc"
