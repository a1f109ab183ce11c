#include "jettest.h"

#include "store/accessstream.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

using namespace jettest;
using store::AccessStreamError;

namespace {

// Counts what the parser hands on and keeps the texts, to compare two
// readings of the same stream.
struct Tally : store::AccessStreamParser::Handler {
    int columnCount = 0;
    QStringList cells;
    void columns(const std::vector<store::AccessColumn> &columns, quint64) override
    {
        columnCount = int(columns.size());
    }
    void row(const std::vector<store::AccessValue> &values) override
    {
        for (const auto &v : values)
            cells << QString::number(int(v.kind)) + u':' + QString::number(v.integer) + u':'
                         + QString::fromUtf8(v.bytes);
    }
};

QByteArray streamOf(const QString &file)
{
    QProcess reader;
    reader.start(program(QStringLiteral("bukurea-jet")), {fixture(file)});
    reader.waitForFinished(60000);
    return reader.readAllStandardOutput();
}

QByteArray le(quint64 v, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char(v >> (8 * i));
    return out;
}

// A stream of one column named "a" and the records given.
QByteArray oneColumn(const QByteArray &records)
{
    return QByteArray("BKJT\x01T", 6) + le(1, 2) + le(1, 2) + "a" + char(store::access::JetText) + char(0) + le(1, 8)
           + records;
}

} // namespace

// The store's reading of the reader's stream: the same rows however the
// bytes arrive, and an error, never a crash or a huge allocation, for
// anything that breaks the rules.
class TestAccessStream : public QObject {
    Q_OBJECT
private slots:
    void sameRowsInAnyPieces()
    {
        const QByteArray stream = streamOf(QStringLiteral("jet4_tabel.mdb"));
        Tally whole;
        store::AccessStreamParser(whole).feed(stream);
        QCOMPARE(whole.columnCount, 9);
        QCOMPARE(whole.cells.size(), 20 * 9);

        QRandomGenerator random(7);
        for (int round = 0; round < 3; ++round) {
            Tally pieces;
            store::AccessStreamParser parser(pieces);
            for (qsizetype at = 0; at < stream.size();) {
                const qsizetype n = round == 0 ? 1 : random.bounded(1, 300);
                parser.feed(QByteArrayView(stream).sliced(at, std::min(n, stream.size() - at)));
                at += n;
            }
            parser.finish();
            QVERIFY(parser.complete());
            QCOMPARE(pieces.cells, whole.cells);
        }
    }

    void brokenStreams_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<bool>("readerFailed");
        const QByteArray row = QByteArray("R") + char(store::access::Kind::Text) + le(2, 4) + "ok";
        const QByteArray end = QByteArray("E") + le(1, 8);
        QTest::newRow("nothing") << QByteArray() << false;
        QTest::newRow("another format") << QByteArray("SQLite format 3") << false;
        QTest::newRow("another version") << QByteArray("BKJT\x02", 5) << false;
        QTest::newRow("a row before the table") << QByteArray("BKJT\x01", 5) + row << false;
        QTest::newRow("no columns") << QByteArray("BKJT\x01T\x00\x00", 8) << false;
        QTest::newRow("too many columns") << QByteArray("BKJT\x01T", 6) + le(256, 2) << false;
        QTest::newRow("a name too long") << QByteArray("BKJT\x01T", 6) + le(1, 2) + le(5000, 2) << false;
        // Announced, never sent: refused at the length, nothing allocated.
        QTest::newRow("a value of 4 GB") << oneColumn(QByteArray("R") + char(store::access::Kind::Blob)
                                                      + le(0xFFFFFFFF, 4))
                                         << false;
        QTest::newRow("a value of unknown kind") << oneColumn(QByteArray("R") + char(9)) << false;
        QTest::newRow("text that is not UTF-8")
            << oneColumn(QByteArray("R") + char(store::access::Kind::Text) + le(2, 4) + "\xC3\x28") << false;
        QTest::newRow("a surrogate in UTF-8")
            << oneColumn(QByteArray("R") + char(store::access::Kind::Text) + le(3, 4) + "\xED\xA0\x80") << false;
        QTest::newRow("a date that is none")
            << oneColumn(QByteArray("R") + char(store::access::Kind::Date) + le(10, 4) + "2024-02-30") << false;
        QTest::newRow("a decimal that is none")
            << oneColumn(QByteArray("R") + char(store::access::Kind::Decimal) + le(3, 4) + "1e5") << false;
        QTest::newRow("the end counts other rows") << oneColumn(row + row + end) << false;
        QTest::newRow("bytes after the end") << oneColumn(row + end + "R") << false;
        QTest::newRow("cut short") << oneColumn(row).chopped(1) << false;
        QTest::newRow("no end") << oneColumn(row) << false;
        QTest::newRow("the reader's failure") << oneColumn(row) + "F" + char(5) + le(3, 2) + "why" << true;
    }
    void brokenStreams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(bool, readerFailed);
        Tally t;
        store::AccessStreamParser parser(t);
        try {
            parser.feed(stream);
            parser.finish();
            QFAIL("accepted");
        } catch (const AccessStreamError &e) {
            QCOMPARE(e.reason == AccessStreamError::Reason::ReaderFailed, readerFailed);
            if (readerFailed)
                QCOMPARE(e.failure, store::access::Failure::NoTable);
        }
    }

    void utf8()
    {
        QVERIFY(store::isValidUtf8("a\xC3\xA9\xE3\x81\x82\xF0\xA0\xAE\xB7")); // a é あ 𠮷
        QVERIFY(!store::isValidUtf8("\xC0\xAF"));                             // overlong
        QVERIFY(!store::isValidUtf8("\xF4\x90\x80\x80"));                     // above U+10FFFF
        QVERIFY(!store::isValidUtf8("\xE3\x81"));                             // cut
    }
};

QTEST_GUILESS_MAIN(TestAccessStream)
#include "test_accessstream.moc"
