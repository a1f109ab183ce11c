// Workbooks written by exporting::Biff8Writer are read back with FreeXL and xlrd
// and compared cell by cell with what was appended; a parser of our own
// checks the stream offsets and record splits that those readers ignore.

#include "export/biff8_writer.h"
#include "export/cfb_writer.h"
#include "export/xls_readback.h"
#include "support/unavailable.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>
#include <cmath>
#include <limits>

using Row = std::vector<exporting::Cell>;
using Rows = std::vector<Row>;
Q_DECLARE_METATYPE(Row)
Q_DECLARE_METATYPE(Rows)
Q_DECLARE_METATYPE(std::vector<Rows>)

namespace {

exporting::Cell T(const QString &s) { return exporting::Cell::fromText(s); }
exporting::Cell N(double d) { return exporting::Cell::fromNumber(d); }

// A text of exactly n UTF-16 units (n >= digits of seed + 1), distinct per seed.
QString text(int n, int seed)
{
    QString s = QString::number(seed) + QLatin1Char('|');
    while (s.size() < n)
        s += QChar(char16_t(0x3042 + (s.size() * 7 + seed) % 80)); // hiragana
    return s;
}

// What a reader must see: empty cells and empty texts read as empty.
SheetCells expected(const Rows &rows)
{
    SheetCells g;
    for (const Row &row : rows) {
        g.emplace_back();
        for (const exporting::Cell &c : row) {
            if (c.kind == exporting::Cell::Kind::Number)
                g.back().push_back(c.number);
            else if (c.kind == exporting::Cell::Kind::Text && !c.text.isEmpty())
                g.back().push_back(c.text);
            else
                g.back().push_back(QVariant());
        }
    }
    return g;
}

// The distinct texts in the order they first occur: the string table.
QStringList distinctTexts(const Rows &rows)
{
    QStringList list;
    QSet<QString> seen;
    for (const Row &row : rows) {
        for (const exporting::Cell &c : row) {
            if (c.kind == exporting::Cell::Kind::Text && !c.text.isEmpty() && !seen.contains(c.text)) {
                seen.insert(c.text);
                list.append(c.text);
            }
        }
    }
    return list;
}

// FreeXL 1.0 misreads a string that goes on over more than one record
// boundary (possible from about 4,100 characters on) and may then fail
// altogether; such workbooks are read by xlrd and our own parser only.
bool freeXlCanRead(const Rows &rows)
{
    for (const Row &row : rows)
        for (const exporting::Cell &c : row)
            if (c.text.size() > 4000)
                return false;
    return true;
}

// The first differing cell, trailing empty cells and rows not counting.
QString difference(const SheetCells &want, const SheetCells &got)
{
    auto at = [](const SheetCells &g, size_t r, size_t c) {
        return r < g.size() && c < g[r].size() ? g[r][c] : QVariant();
    };
    for (size_t r = 0; r < std::max(want.size(), got.size()); ++r) {
        const size_t cols = std::max(r < want.size() ? want[r].size() : 0, r < got.size() ? got[r].size() : 0);
        for (size_t c = 0; c < cols; ++c) {
            const QVariant a = at(want, r, c), b = at(got, r, c);
            if (a.metaType() != b.metaType() || a != b)
                return QStringLiteral("row %1, column %2: expected %3, read %4")
                    .arg(r)
                    .arg(c)
                    .arg(a.toString().left(40), b.toString().left(40));
        }
    }
    return {};
}

QString writeFile(exporting::Biff8Writer &w, const QString &path)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return f.errorString();
    if (!w.write(f))
        return w.error();
    return f.commit() ? QString() : f.errorString();
}

// What our own parser finds wrong with the file at `path` (empty: nothing).
QString structureFault(const QString &path, RawWorkbook &raw)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? checkStructure(f.readAll(), raw) : f.errorString();
}

} // namespace

class TestBiff8 : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("ブクレア.xls")); }

private slots:
    void roundTrip_data();
    void roundTrip();
    void sheetsFollowInOrder_data();
    void sheetsFollowInOrder();
    void refusesWhatDoesNotFit_data();
    void refusesWhatDoesNotFit();
    void storesLoneSurrogatesAsReplacementCharacters();
    void numbersKeepEveryBit_data();
    void textsInUtf8_data();
    void textsInUtf8();
    void numbersKeepEveryBit();
    void reportsWriteFailures();
    void compoundFileHoldsTheStream_data();
    void compoundFileHoldsTheStream();
    void rowsInAnyOrder_data();
    void rowsInAnyOrder();
};

void TestBiff8::roundTrip_data()
{
    QTest::addColumn<Rows>("rows");
    // Which split of the string table the case must produce: "header" (a
    // CONTINUE record starts with a new string) or "text" (inside a string).
    QTest::addColumn<QString>("split");

    QTest::newRow("no rows") << Rows{} << "";
    QTest::newRow("one row") << Rows{{T("書名"), N(1)}} << "";
    QTest::newRow("texts and numbers") << Rows{{T("007"), T("夏目漱石"), T(" 前後に空白 "), T("改行\nあり"),
                                                T("𠮷野家"), T("0")},
                                               {N(0), N(-1.5), N(1e308), N(4.9e-324), N(9007199254740993.0), N(1905)}}
                                       << "";
    QTest::newRow("texts of 10000 and 32767 characters")
        << Rows{{T(text(10000, 1)), T(text(32767, 2))}, {T(text(32767, 2))}} << "text";

    Rows gaps{{T("a"), exporting::Cell::empty(), T(QString()), N(4)}, {}, Row(3)};
    gaps.resize(80); // rows 3-79 empty: blocks without cells
    gaps.push_back(Row(256, N(7)));
    Row lastColumn(256);
    lastColumn[255] = T("IV");
    gaps.push_back(lastColumn);
    QTest::newRow("empty cells and rows, 256 columns") << gaps << "";

    // The SST record holds 8224 bytes: 8 for its counts, then 3 + 2 x length
    // per string. 8 + 8003 + 213 = 8224: the record is exactly full.
    QTest::newRow("record full after a string") << Rows{{T(text(4000, 1)), T(text(105, 2)), T(text(5, 3))}} << "header";
    // 8 + 8003 + 209 = 8220: the next header fits, its first character not.
    QTest::newRow("header fits, first character not")
        << Rows{{T(text(4000, 1)), T(text(103, 2)), T(text(5, 3))}} << "header";
    // 8 + 8003 + 203 + 9 = 8223: one byte left.
    QTest::newRow("one byte left") << Rows{{T(text(4000, 1)), T(text(100, 2)), T(text(3, 3)), T(text(5, 4))}}
                                   << "header";
    // 8 + 203 + 3 + 2 x 4004 = 8222: a surrogate pair would straddle.
    QTest::newRow("surrogate pair at the record end")
        << Rows{{T(text(100, 1)), T(text(4004, 2) + QString::fromUtf8("𠮷end"))}} << "text";

    Rows many;
    for (int i = 0; i < 3000; ++i)
        many.push_back({T(text(2 + i % 60, i)), N(i), T(text(4 + i % 7, i % 40))});
    QTest::newRow("many strings, unique and repeated") << many << "text";

    Rows full;
    for (int i = 0; i < exporting::Biff8Writer::MaxRows; ++i)
        full.push_back({N(i), T(QStringLiteral("棚%1").arg(i % 1000))});
    QTest::newRow("65536 rows") << full << "";

    // More than 109 FAT sectors (7.1 MB): the compound file needs DIFAT.
    Rows large;
    for (int r = 0; r < 1500; ++r) {
        large.emplace_back();
        for (int c = 0; c < 6; ++c)
            large.back().push_back(T(text(450, r * 6 + c)));
    }
    QTest::newRow("over 7 MB") << large << "text";
}

void TestBiff8::roundTrip()
{
    QFETCH(Rows, rows);
    QFETCH(QString, split);
    exporting::Biff8Writer w;
    for (const Row &row : rows)
        QVERIFY2(w.appendRow(row), qPrintable(w.error()));
    QCOMPARE(writeFile(w, path()), QString());

    if (freeXlCanRead(rows)) {
        SheetCells got;
        QString error;
        QVERIFY2(readWithFreeXl(path(), got, error), qPrintable(error));
        const QString diff = difference(expected(rows), got);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    QFile f(path());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    RawWorkbook raw;
    const QString fault = checkStructure(bytes, raw);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(raw.strings == distinctTexts(rows));
    QCOMPARE(raw.difatSectors > 0, bytes.size() > 109 * 128 * 512 + 512);
    if (split == QLatin1String("header"))
        QVERIFY(raw.continuesAtStringStart > 0);
    if (split == QLatin1String("text"))
        QVERIFY(raw.continuesInsideString > 0);

    // A second, independent reader.
    SheetCells byXlrd;
    QString error;
    bool unavailable = false;
    if (!readWithXlrd(path(), byXlrd, error, unavailable)) {
        if (unavailable)
            SKIP_UNAVAILABLE("/usr/bin/python3 with xlrd is not available for the second check");
        QFAIL(qPrintable(error));
    }
    const QString diff = difference(expected(rows), byXlrd);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// Rows on several worksheets, each read back on its own, in order, by every
// reader; the texts of all sheets share one string table.
void TestBiff8::sheetsFollowInOrder_data()
{
    QTest::addColumn<std::vector<Rows>>("sheets");
    QTest::newRow("three, the middle one empty")
        << std::vector<Rows>{{{T("夏目漱石"), N(1)}, {T("共有"), N(2)}},
                             {},
                             {{N(3), T("共有")}, {}, {T("夏目漱石"), exporting::Cell::empty(), T("最後")}}};
    Rows full;
    for (int i = 0; i < exporting::Biff8Writer::MaxRows; ++i)
        full.push_back({N(i + 1), T(QStringLiteral("棚%1").arg(i % 1000))});
    QTest::newRow("a full sheet and one row more") << std::vector<Rows>{full, {{N(65537), T("棚0")}}};
}

void TestBiff8::sheetsFollowInOrder()
{
    QFETCH(std::vector<Rows>, sheets);
    exporting::Biff8Writer w;
    QStringList names;
    for (const Rows &rows : sheets) {
        if (!names.isEmpty())
            w.addSheet();
        names << QStringLiteral("Sheet%1").arg(names.size() + 1);
        QCOMPARE(w.rowCount(), 0);
        for (const Row &row : rows)
            QVERIFY2(w.appendRow(row), qPrintable(w.error()));
    }
    QCOMPARE(w.sheetCount(), int(sheets.size()));
    QCOMPARE(writeFile(w, path()), QString());

    RawWorkbook raw;
    const QString fault = structureFault(path(), raw);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(raw.sheetNames, names);
    Rows all;
    for (const Rows &rows : sheets)
        all.insert(all.end(), rows.begin(), rows.end());
    QVERIFY(raw.strings == distinctTexts(all));

    SheetsRead byFreeXl, byXlrd;
    QString error;
    bool unavailable = false;
    QVERIFY2(readWithFreeXl(path(), byFreeXl, error), qPrintable(error));
    const bool xlrd = readWithXlrd(path(), byXlrd, error, unavailable);
    QVERIFY2(xlrd || unavailable, qPrintable(error));
    for (const SheetsRead *read : {&byFreeXl, xlrd ? &byXlrd : nullptr}) {
        if (!read)
            continue;
        QCOMPARE(read->names, names);
        QCOMPARE(read->sheets.size(), sheets.size());
        for (size_t k = 0; k < sheets.size(); ++k) {
            const QString diff = difference(expected(sheets[k]), read->sheets[k]);
            QVERIFY2(diff.isEmpty(), qPrintable(names[int(k)] + QStringLiteral(": ") + diff));
        }
    }
    if (!xlrd)
        SKIP_UNAVAILABLE("/usr/bin/python3 with xlrd is not available for the second check");
}

void TestBiff8::refusesWhatDoesNotFit_data()
{
    QTest::addColumn<int>("rowsBefore");
    QTest::addColumn<Row>("row");
    QTest::addColumn<QString>("error");
    QTest::newRow("32768 characters") << 2
                                      << Row{T("a"), N(1), exporting::Cell::empty(),
                                             T(QString(32768, QLatin1Char('x')))}
                                      << "Row 2, column 3:";
    QTest::newRow("257 cells") << 0 << Row(257, N(1)) << "Row 0:";
    QTest::newRow("not a number") << 1 << Row{T("a"), N(std::nan(""))} << "Row 1, column 1:";
    QTest::newRow("infinity") << 1 << Row{N(-std::numeric_limits<double>::infinity())} << "Row 1, column 0:";
    QTest::newRow("row 65537") << exporting::Biff8Writer::MaxRows << Row{T("a")} << "Row 65536:";
}

void TestBiff8::refusesWhatDoesNotFit()
{
    QFETCH(int, rowsBefore);
    QFETCH(Row, row);
    QFETCH(QString, error);
    exporting::Biff8Writer w;
    Rows accepted;
    for (int i = 0; i < rowsBefore; ++i) {
        accepted.push_back({T(QStringLiteral("本%1").arg(i % 10))});
        QVERIFY(w.appendRow(accepted.back()));
    }
    QVERIFY(!w.appendRow(row));
    QVERIFY2(w.error().startsWith(error), qPrintable(w.error()));
    QCOMPARE(w.rowCount(), rowsBefore);

    // The refused row left nothing behind.
    QCOMPARE(writeFile(w, path()), QString());
    SheetCells got;
    QString readError;
    QVERIFY2(readWithFreeXl(path(), got, readError), qPrintable(readError));
    const QString diff = difference(expected(accepted), got);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestBiff8::storesLoneSurrogatesAsReplacementCharacters()
{
    exporting::Biff8Writer w;
    QVERIFY(w.appendRow({T(QString(QChar(0xD842)) + "a" + QChar(0xDFB7))}));
    QCOMPARE(writeFile(w, path()), QString());
    SheetCells got;
    QString error;
    QVERIFY2(readWithFreeXl(path(), got, error), qPrintable(error));
    QCOMPARE(difference({{QStringLiteral("\uFFFDa\uFFFD")}}, got), QString());
}

// Each number read back by both readers with the very bits written, in the
// short RK form exactly where that holds it: alone (RK), beside other
// numbers (MULRK) and beside numbers without an RK form (NUMBER).
void TestBiff8::numbersKeepEveryBit_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<bool>("rk");
    constexpr double Top = 1 << 29; // the 30-bit signed integers end below 2^29
    QTest::newRow("0") << 0.0 << true;
    QTest::newRow("-0") << -0.0 << true; // top bits of the double, the rest zero
    QTest::newRow("1") << 1.0 << true;
    QTest::newRow("-1") << -1.0 << true;
    QTest::newRow("2^29 - 1") << Top - 1 << true;
    QTest::newRow("-2^29") << -Top << true;
    QTest::newRow("2^29") << Top << true; // a double with 34 low zero bits
    QTest::newRow("-2^29 - 1") << -Top - 1 << false;
    QTest::newRow("2^29 + 1") << Top + 1 << false;
    QTest::newRow("2^53 - 1") << 9007199254740991.0 << false;
    QTest::newRow("1.5") << 1.5 << true;
    QTest::newRow("-1.5") << -1.5 << true;
    QTest::newRow("0.1") << 0.1 << true; // 10 / 100
    QTest::newRow("0.01") << 0.01 << true;
    QTest::newRow("0.07") << 0.07 << true;
    QTest::newRow("1234.56") << 1234.56 << true;
    QTest::newRow("-1234.56") << -1234.56 << true;
    QTest::newRow("5368709.11") << 5368709.11 << true; // (2^29 - 1) / 100
    QTest::newRow("5368709.12") << 5368709.12 << true; // 2^29 / 100: a hundredth of a short double
    QTest::newRow("5368709.13") << 5368709.13 << false;
    QTest::newRow("-5368709.12") << -5368709.12 << true;
    QTest::newRow("0.001") << 0.001 << false;
    QTest::newRow("1/3") << 1.0 / 3 << false;
    QTest::newRow("1e300") << 1e300 << false;
    QTest::newRow("1e-300") << 1e-300 << false;
    QTest::newRow("1e308") << 1e308 << false;
    QTest::newRow("smallest subnormal") << 4.9e-324 << false;
    QTest::newRow("largest double") << std::numeric_limits<double>::max() << false;
    QTest::newRow("2^100") << std::ldexp(1.0, 100) << true;
    QTest::newRow("-2^-100") << -std::ldexp(1.0, -100) << true;
    QTest::newRow("2^1023") << std::ldexp(1.0, 1023) << true;
    QTest::newRow("9007199254740993 as double") << 9007199254740993.0 << true; // 2^53
    // Hundredths, which a double holds only approximately: short while a
    // hundred times the number is a 30-bit integer.
    for (int k : {1, 3, 10, 29, 57, 99, 101, 12345, 1234567, 536870911, -536870912, -536870913, 536870913})
        QTest::addRow("%d / 100", k) << k / 100.0 << (k >= -(1 << 29) && k < (1 << 29));
    QTest::newRow("1905.0000000000002") << std::nextafter(1905.0, 2000.0) << false;
}

void TestBiff8::numbersKeepEveryBit()
{
    QFETCH(double, number);
    QFETCH(bool, rk);
    QCOMPARE(exporting::rkValue(number).has_value(), rk);

    // Alone, three in a row, between numbers without an RK form, after a text.
    const Rows rows{{N(number)},
                    {N(number), N(number), N(number)},
                    {N(0.001), N(number), N(1.0 / 3), N(number), N(2), N(number)},
                    {T("a"), N(number), exporting::Cell::empty(), N(number), N(7)}};
    exporting::Biff8Writer w;
    for (const Row &row : rows)
        QVERIFY2(w.appendRow(row), qPrintable(w.error()));
    QCOMPARE(writeFile(w, path()), QString());
    RawWorkbook raw;
    const QString fault = structureFault(path(), raw);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    auto sameBits = [&](const SheetCells &got, const char *reader) {
        for (size_t r = 0; r < rows.size(); ++r) {
            for (size_t c = 0; c < rows[r].size(); ++c) {
                if (rows[r][c].kind != exporting::Cell::Kind::Number)
                    continue;
                const QVariant v = r < got.size() && c < got[r].size() ? got[r][c] : QVariant();
                if (v.typeId() != QMetaType::Double
                    || std::bit_cast<quint64>(v.toDouble()) != std::bit_cast<quint64>(rows[r][c].number))
                    return QStringLiteral("%1, row %2, column %3: wrote %4, read %5")
                        .arg(QLatin1String(reader))
                        .arg(r)
                        .arg(c)
                        .arg(rows[r][c].number, 0, 'g', 17)
                        .arg(v.toDouble(), 0, 'g', 17);
            }
        }
        return QString();
    };
    SheetCells got;
    QString error;
    QVERIFY2(readWithFreeXl(path(), got, error), qPrintable(error));
    QString diff = sameBits(got, "FreeXL");
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    bool unavailable = false;
    if (!readWithXlrd(path(), got, error, unavailable)) {
        if (unavailable)
            SKIP_UNAVAILABLE("/usr/bin/python3 with xlrd is not available for the second check");
        QFAIL(qPrintable(error));
    }
    diff = sameBits(got, "xlrd");
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// Texts handed over in UTF-8 are the texts the store would show, share the
// string table with the same texts in UTF-16 however often they come, and
// are measured in UTF-16 units against what a cell holds.
using ByteRows = QList<QList<QByteArray>>;
Q_DECLARE_METATYPE(ByteRows)

void TestBiff8::textsInUtf8_data()
{
    // Each cell: 'u' and the UTF-8 handed over, or 't' and UTF-8 that the
    // test turns into a UTF-16 text first.
    QTest::addColumn<ByteRows>("rows");
    QTest::addColumn<QStringList>("strings"); // the string table
    QTest::addColumn<int>("refusedRow");      // -1: none
    QTest::newRow("same text both ways") << ByteRows{{"u棚 1", "t棚 1", "u棚 1"}, {"t棚 1", "u棚 2"}}
                                         << QStringList{"棚 1", "棚 2"} << -1;
    QTest::newRow("same bytes twice in a new row") << ByteRows{{"u新", "u新", "u新"}} << QStringList{"新"} << -1;
    QTest::newRow("UTF-16 first, then the same text in UTF-8")
        << ByteRows{{"t甲", "u甲", "u乙", "u乙"}, {"u乙", "t乙", "u丙"}} << QStringList{"甲", "乙", "丙"} << -1;
    {
        // Enough texts for the tables to grow several times; each is met
        // again in UTF-8 and in UTF-16 after all of them.
        ByteRows many;
        QStringList all;
        for (int i = 0; i < 5000; ++i) {
            const QByteArray t = "本 " + QByteArray::number(i);
            many.append(QList<QByteArray>{"u" + t, "u" + t});
            all << QString::fromUtf8(t);
        }
        for (int i = 0; i < 5000; i += 7)
            many.append(QList<QByteArray>{"u本 " + QByteArray::number(i), "t本 " + QByteArray::number(4999 - i)});
        QTest::newRow("thousands of texts, each met again") << many << all << -1;
    }
    QTest::newRow("malformed bytes and their replacement") << ByteRows{{"ua\xFF"
                                                                        "b",
                                                                        "ta\xEF\xBF\xBD"
                                                                        "b",
                                                                        "ua\xFE"
                                                                        "b"}}
                                                           << QStringList{QStringLiteral(u"a\uFFFDb")} << -1;
    QTest::newRow("leading U+FEFF") << ByteRows{{"u\xEF\xBB\xBF"
                                                 "x",
                                                 "ux"}}
                                    << QStringList{QStringLiteral(u"\uFEFFx"), "x"} << -1;
    QTest::newRow("empty UTF-8 is an empty cell") << ByteRows{{"u", "ua"}} << QStringList{"a"} << -1;
    // 16,384 three-byte characters: 49,152 bytes, but 16,384 units.
    QTest::newRow("long in bytes, short in units")
        << ByteRows{{"u" + QString(16384, u'字').toUtf8()}} << QStringList{QString(16384, u'字')} << -1;
    // 32,768 units refuse the row, and nothing of it is kept.
    QTest::newRow("32768 units") << ByteRows{{"u前"}, {"u後", "u" + QByteArray(32768, 'x')}} << QStringList{"前"} << 1;
}

void TestBiff8::textsInUtf8()
{
    QFETCH(ByteRows, rows);
    QFETCH(QStringList, strings);
    QFETCH(int, refusedRow);
    exporting::Biff8Writer w;
    for (int r = 0; r < rows.size(); ++r) {
        std::vector<exporting::CellView> cells(rows[r].size());
        std::vector<QString> texts(cells.size());
        for (size_t c = 0; c < cells.size(); ++c) {
            const QByteArray &given = rows[r][int(c)];
            texts[c] = QString::fromUtf8(given.mid(1));
            cells[c] = given.startsWith('u')
                           ? exporting::CellView{exporting::Cell::Kind::Text, {}, 0, QByteArrayView(given).sliced(1)}
                           : exporting::CellView{exporting::Cell::Kind::Text, texts[c], 0, {}};
        }
        const bool appended = w.appendRow(cells.data(), cells.size());
        QCOMPARE(appended, r != refusedRow);
        if (!appended)
            QVERIFY2(w.error().contains(QStringLiteral("32768 characters")), qPrintable(w.error()));
    }
    QCOMPARE(writeFile(w, path()), QString());
    RawWorkbook raw;
    const QString fault = structureFault(path(), raw);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(raw.strings, strings);
    // Read back by xlrd: FreeXL misreads, now and then, a text that goes on
    // in a CONTINUE record, as the longest texts here do.
    SheetCells got;
    QString error;
    bool unavailable = false;
    if (!readWithXlrd(path(), got, error, unavailable)) {
        if (unavailable)
            SKIP_UNAVAILABLE("/usr/bin/python3 with xlrd is not available for the check");
        QFAIL(qPrintable(error));
    }
    QCOMPARE(got.size(), size_t(refusedRow < 0 ? rows.size() : refusedRow));
}

void TestBiff8::reportsWriteFailures()
{
    exporting::Biff8Writer w;
    QVERIFY(w.appendRow({T(text(20000, 1))}));
    QFile notOpen(path());
    QVERIFY(!w.write(notOpen));
    QVERIFY(!w.error().isEmpty());

    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly))
        SKIP_UNAVAILABLE("/dev/full is not available");
    QVERIFY(!w.write(full));
    QVERIFY2(w.error().contains(QLatin1String("Cannot write")), qPrintable(w.error()));
}

void TestBiff8::compoundFileHoldsTheStream_data()
{
    QTest::addColumn<int>("size");
    for (int size : {0, 1, 4095, 4096, 4097, 512 * 1000 + 7})
        QTest::addRow("%d bytes", size) << size;
    // 20 MB: 320 FAT sectors, 109 listed in the header, the rest in a chain
    // of two DIFAT sectors.
    QTest::newRow("20 MB") << 20 * 1024 * 1024;
}

void TestBiff8::compoundFileHoldsTheStream()
{
    QFETCH(int, size);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char(unsigned(i) * 131u + unsigned(i) / 509u); // unsigned: wraps instead of overflowing
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    exporting::CompoundFileWriter cfb(file);
    QVERIFY(cfb.begin(QStringLiteral("Workbook"), quint64(size)));
    QVERIFY(cfb.writeStream(data.constData(), size / 3));
    QVERIFY(cfb.writeStream(data.constData() + size / 3, size - size / 3));
    QVERIFY2(cfb.finish(), qPrintable(cfb.error()));

    QByteArray stream;
    RawWorkbook raw;
    const QString fault = readWorkbookStream(file.data(), stream, raw);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    // Short streams come back padded with zeros to 4096 bytes.
    QCOMPARE(stream.size(), std::max(size, 4096));
    QVERIFY(stream.startsWith(data));
    QCOMPARE(stream.count('\0') - data.count('\0'), stream.size() - size);
    QCOMPARE(raw.difatSectors, size > 20000000 ? 2u : 0u);
}

// Rows set in any order (as the export sets a sorted list's rows in the
// order the file gives them) make the same worksheets as rows appended in
// order; a row given twice or outside the workbook is refused and changes
// nothing.
void TestBiff8::rowsInAnyOrder_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("step"); // rows are set at position i * step modulo rows
    QTest::newRow("no rows") << 0 << 1;
    QTest::newRow("in order") << 100 << 1;
    QTest::newRow("backwards within a block") << 31 << 30;
    QTest::newRow("scattered over two worksheets") << exporting::Biff8Writer::MaxRows + 70 << 7919;
}

void TestBiff8::rowsInAnyOrder()
{
    QFETCH(int, rows);
    QFETCH(int, step);
    // Every kind of row: texts (shared, new, empty), numbers with and
    // without the short form side by side, empty cells, rows without cells.
    auto rowAt = [](int i) -> Row {
        if (i % 11 == 5)
            return {exporting::Cell::empty(), T(QString())};
        return {N(i + 1), T(QStringLiteral("題%1").arg(i % 40)),
                i % 3 ? T(QStringLiteral("著者%1").arg(i)) : Row::value_type(), N(i % 2 ? 0.1 * i : 1999),
                N(i % 5 ? 1e300 : 7)};
    };
    exporting::Biff8Writer inOrder, anyOrder;
    anyOrder.setRowCount(rows);
    for (int i = 0; i < rows; ++i) {
        if (inOrder.rowCount() == exporting::Biff8Writer::MaxRows)
            inOrder.addSheet();
        QVERIFY(inOrder.appendRow(rowAt(i)));
        const int position = int(qint64(i) * step % rows);
        const Row row = rowAt(position);
        std::vector<exporting::CellView> views;
        for (const exporting::Cell &c : row)
            views.push_back({c.kind, c.text, c.number, {}});
        QVERIFY2(anyOrder.setRow(position, views.data(), views.size()), qPrintable(anyOrder.error()));
    }
    const exporting::CellView one{exporting::Cell::Kind::Number, {}, 1, {}};
    for (const qint64 refused : {qint64(-1), qint64(rows), qint64(rows > 0 ? rows - 1 : 0)})
        QVERIFY(!anyOrder.setRow(refused, &one, 1));
    QCOMPARE(anyOrder.sheetCount(), inOrder.sheetCount());

    const QString other = m_dir.filePath(QStringLiteral("in order.xls"));
    QCOMPARE(writeFile(inOrder, other), QString());
    QCOMPARE(writeFile(anyOrder, path()), QString());
    RawWorkbook raw;
    const QString fault = structureFault(path(), raw);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    SheetsRead want, got;
    QString error;
    QVERIFY2(readWithFreeXl(other, want, error), qPrintable(error));
    QVERIFY2(readWithFreeXl(path(), got, error), qPrintable(error));
    QCOMPARE(got.names, want.names);
    QCOMPARE(got.sheets.size(), want.sheets.size());
    for (size_t k = 0; k < want.sheets.size(); ++k) {
        const QString diff = difference(want.sheets[k], got.sheets[k]);
        QVERIFY2(diff.isEmpty(), qPrintable(want.names[int(k)] + QStringLiteral(": ") + diff));
    }
    // Set in order, the rows give the same file, byte for byte.
    if (step == 1) {
        QFile a(path()), b(other);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QVERIFY(a.readAll() == b.readAll());
    }
}

QTEST_GUILESS_MAIN(TestBiff8)
#include "test_biff8.moc"
