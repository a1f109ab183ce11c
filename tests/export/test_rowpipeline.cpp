// Rows encoded on a second thread: the workbook is the same, byte for byte,
// as one encoded on the reading thread, and either side may stop the other
// at any row without a hang, a lost row or a row out of order.

#include "export/rowpipeline.h"

#include <QBuffer>
#include <QtTest>

#include <chrono>
#include <stdexcept>
#include <thread>

using exporting::Biff8Writer;
using exporting::Cell;
using exporting::CellView;
using exporting::RowBlock;
using exporting::RowPipeline;

namespace {

constexpr size_t Width = 5;

// Row i of a list that holds every kind of cell: texts in UTF-8 (repeated
// and new), a text in UTF-16 (a lone surrogate in some), numbers with and
// without the short form, empty cells.
struct Rows {
    QByteArray utf8[2];
    QString utf16;
    std::array<CellView, Width> cells;
    const CellView *at(int i)
    {
        utf8[0] = "本 " + QByteArray::number(i % 97);
        utf8[1] = "著者" + QByteArray::number(i);
        utf16 = i % 5 ? QStringLiteral("語%1").arg(i % 13) : QString(QChar(0xD800));
        cells = {CellView{Cell::Kind::Number, {}, double(i), {}}, CellView{Cell::Kind::Text, {}, 0, utf8[0]},
                 CellView{Cell::Kind::Text, {}, 0, utf8[1]},
                 i % 3 ? CellView{Cell::Kind::Text, utf16, 0, {}} : CellView{},
                 CellView{Cell::Kind::Number, {}, i % 2 ? 0.1 * i : 1e300, {}}};
        return cells.data();
    }
};

bool appendTo(Biff8Writer &w, const CellView *cells)
{
    if (w.rowCount() == Biff8Writer::MaxRows)
        w.addSheet();
    return w.appendRow(cells, Width);
}

QByteArray bytesOf(Biff8Writer &w)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    return w.write(out) ? out.data() : QByteArray("write failed");
}

// The first value of each row the consumer saw, in the order it saw them.
struct Seen {
    std::vector<double> first;
    bool inOrder() const
    {
        for (size_t i = 0; i < first.size(); ++i) {
            if (first[i] != double(i))
                return false;
        }
        return true;
    }
};

} // namespace

class TestRowPipeline : public QObject {
    Q_OBJECT
private slots:
    // Around the block size, past a worksheet, with an encoder slower than
    // the reader (the reader then waits for free blocks).
    void sameWorkbookAsOnOneThread_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("slowEncoder");
        QTest::newRow("none") << 0 << false;
        QTest::newRow("one") << 1 << false;
        QTest::newRow("one block less one") << int(RowPipeline::BlockRows) - 1 << false;
        QTest::newRow("one block") << int(RowPipeline::BlockRows) << false;
        QTest::newRow("one block and one") << int(RowPipeline::BlockRows) + 1 << true;
        QTest::newRow("two worksheets") << Biff8Writer::MaxRows + 3000 << false;
        QTest::newRow("more than the queue holds, slow encoder") << 20 * int(RowPipeline::BlockRows) + 7 << true;
    }
    void sameWorkbookAsOnOneThread()
    {
        QFETCH(int, rows);
        QFETCH(bool, slowEncoder);
        Biff8Writer direct, piped;
        Rows made;
        for (int i = 0; i < rows; ++i)
            QVERIFY(appendTo(direct, made.at(i)));
        {
            RowPipeline pipe(Width, [&](RowBlock &block) {
                if (slowEncoder)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                for (size_t r = 0; r < block.rows(); ++r) {
                    if (!appendTo(piped, block.row(r)))
                        return false;
                }
                return true;
            });
            for (int i = 0; i < rows; ++i)
                QVERIFY(pipe.add(i, made.at(i)));
            QVERIFY(pipe.finish());
        }
        QCOMPARE(piped.sheetCount(), direct.sheetCount());
        QCOMPARE(bytesOf(piped), bytesOf(direct));
    }

    // The encoder refuses a row (the workbook is full) or throws; the reader
    // gives up (a row it cannot read): at the start, at a block's edge, deep
    // in the list. The encoder has seen exactly the rows before the one
    // that stopped it, in order, and nothing waits forever.
    void eitherSideStops_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("at");
        const int block = int(RowPipeline::BlockRows);
        for (const char *how : {"encoder refuses", "encoder throws", "reader gives up"}) {
            for (const int at : {0, block - 1, block, 15 * block + 3}) {
                QTest::addRow("%s at row %d", how, at) << QString::fromLatin1(how) << at;
            }
        }
    }
    void eitherSideStops()
    {
        QFETCH(QString, how);
        QFETCH(int, at);
        const int rows = 30 * int(RowPipeline::BlockRows);
        const bool readerStops = how == QLatin1String("reader gives up");
        Seen seen;
        Rows made;
        int taken = 0;
        bool finished = true, thrown = false;
        {
            RowPipeline pipe(Width, [&](RowBlock &block) {
                for (size_t r = 0; r < block.rows(); ++r) {
                    const double first = block.row(r)[0].number;
                    if (!readerStops && first == at) {
                        if (how == QLatin1String("encoder throws"))
                            throw std::runtime_error("no room");
                        return false;
                    }
                    seen.first.push_back(first);
                }
                // Slow enough that the reader fills the queue and waits.
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                return true;
            });
            for (int i = 0; i < (readerStops ? at : rows) && pipe.add(i, made.at(i)); ++i)
                ++taken;
            if (!readerStops) {
                try {
                    finished = pipe.finish();
                } catch (const std::runtime_error &) {
                    thrown = true;
                }
            }
            // A reader that gives up leaves without finish(): the pipeline
            // stops its encoder on the way out.
        }
        QVERIFY(seen.inOrder());
        if (readerStops) {
            QCOMPARE(taken, at);
            QVERIFY(seen.first.size() <= size_t(at));
            return;
        }
        QCOMPARE(seen.first.size(), size_t(at));
        QCOMPARE(thrown, how == QLatin1String("encoder throws"));
        QVERIFY(!finished || thrown);
        // The reader learns of the stop within the blocks that were on their way.
        QVERIFY2(taken < at + int((RowPipeline::Waiting + 3) * RowPipeline::BlockRows),
                 qPrintable(QString::number(taken)));
    }
};

QTEST_GUILESS_MAIN(TestRowPipeline)
#include "test_rowpipeline.moc"
