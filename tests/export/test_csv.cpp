#include "csvtestfiles.h"
#include "export/csvcodec.h"
#include "export/csvexport.h"
#include "export/csvimport.h"
#include "export/csvreader.h"
#include "store/connection.h"
#include "store/recordset.h"
#include "support/appdir.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using namespace csvtest;

namespace {

// The records of `bytes` as the reader finds them: fields joined by "|",
// each record prefixed by its line; the status that ended the reading last.
QStringList records(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    exporting::RecordReader reader(buffer, true);
    QStringList out;
    for (;;) {
        const auto status = reader.next();
        if (status == exporting::RecordReader::Status::End)
            return out << QStringLiteral("end");
        if (status == exporting::RecordReader::Status::Unterminated)
            return out << QStringLiteral("unterminated@%1").arg(reader.line());
        if (status == exporting::RecordReader::Status::ReadError)
            return out << QStringLiteral("error");
        QStringList fields;
        for (size_t i = 0; i < reader.fieldCount(); ++i)
            fields << QString::fromUtf8(reader.fields()[i].data(), qsizetype(reader.fields()[i].size()));
        out << QStringLiteral("%1%2:%3").arg(reader.line()).arg(reader.strayText() ? "!" : "").arg(fields.join(u'|'));
    }
}

std::shared_ptr<store::Connection> open(const AppDir &dir) { return store::Connection::open(dir.dbPath()); }

exporting::ExportOutcome exportAll(const AppDir &dir, const QString &path, exporting::Encoding encoding)
{
    store::RecordSet rows(open(dir), store::RecordSource::sorted(store::Field::Number, store::Direction::Ascending));
    return exporting::exportCsv(rows, path, encoding);
}

const QByteArray Heading =
    "\"蔵書番号\",\"書名\",\"著者名\",\"出版社\",\"出版年\",\"分類\",\"保管場所\",\"貸出\",\"キーワード\"\r\n";

// The heading as Japanese Excel saves a sheet "CSV (コンマ区切り)": code page
// 932, no quotes where none are needed.
QByteArray cp932(const QString &text)
{
    QByteArray out;
    exporting::Cp932Encoder encoder;
    if (encoder.append(text, out) >= 0)
        qFatal("not in code page 932");
    return out;
}

} // namespace

class TestCsv : public QObject {
    Q_OBJECT
private slots:
    void cp932Encoding_data();
    void cp932Encoding();
    void cp932Decoding_data();
    void cp932Decoding();
    void reader_data();
    void reader();
    void wholeNumbers_data();
    void wholeNumbers();
    void headings_data();
    void headings();
    void encodingDetection_data();
    void encodingDetection();
    void excelFiles_data();
    void excelFiles();
    void problems_data();
    void problems();
    void unreadableFiles();
    void exportBytes();
    void unencodableStopsExport();
    void failedExportKeepsFile();
    void failedImportWritesNothing();
};

// Characters as they are written in code page 932: the JIS forms go to the
// bytes Windows gives them; what code page 932 lacks is found and named.
void TestCsv::cp932Encoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // empty: not encodable
    QTest::addColumn<int>("badIndex");
    QTest::newRow("ascii") << u("ABC \\~") << QByteArray("ABC \\~") << -1;
    QTest::newRow("kana") << u("あア") << QByteArray("\x82\xA0\x83\x41") << -1;
    QTest::newRow("wave dash") << u("〜") << QByteArray("\x81\x60") << -1;
    QTest::newRow("fullwidth tilde") << u("～") << QByteArray("\x81\x60") << -1;
    QTest::newRow("double vertical line") << u("‖") << QByteArray("\x81\x61") << -1;
    QTest::newRow("minus sign") << u("−") << QByteArray("\x81\x7C") << -1;
    QTest::newRow("cent, pound, not") << u("¢£¬") << QByteArray("\x81\x91\x81\x92\x81\xCA") << -1;
    QTest::newRow("em dash") << u("—") << QByteArray("\x81\x5C") << -1;
    QTest::newRow("NEC circled digit") << u("①") << QByteArray("\x87\x40") << -1;
    QTest::newRow("NEC parenthesized ideograph") << u("㈱") << QByteArray("\x87\x8A") << -1;
    QTest::newRow("IBM extension") << u("ⅰ纊") << QByteArray("\xFA\x40\xFA\x5C") << -1;
    QTest::newRow("surrogate pair") << u("ab𠮷c") << QByteArray() << 2;
    QTest::newRow("emoji") << u("本😀") << QByteArray() << 1;
    QTest::newRow("yen sign") << u("¥") << QByteArray() << 0;
    QTest::newRow("vu") << u("あゔ") << QByteArray() << 1;
}

void TestCsv::cp932Encoding()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, badIndex);
    exporting::Cp932Encoder encoder;
    for (int round = 0; round < 2; ++round) { // the encoder serves on after a failure
        QByteArray out = "x";
        QCOMPARE(encoder.append(text, out), qsizetype(badIndex));
        QCOMPARE(out, badIndex < 0 ? "x" + bytes : QByteArray("x"));
        out.clear();
        QCOMPARE(encoder.append(u("良"), out), qsizetype(-1));
        QCOMPARE(out, QByteArray("\x97\xC7"));
    }
}

void TestCsv::cp932Decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text"); // null: not valid code page 932
    QTest::newRow("ascii, backslash and tilde stay") << QByteArray("a\\~") << u("a\\~");
    QTest::newRow("kanji") << QByteArray("\x96\x7B") << u("本");
    QTest::newRow("8160 is the fullwidth tilde") << QByteArray("\x81\x60") << u("～");
    QTest::newRow("815C, 817C") << QByteArray("\x81\x5C\x81\x7C") << u("―－");
    QTest::newRow("NEC special") << QByteArray("\x87\x40\x87\x8A") << u("①㈱");
    QTest::newRow("NEC selected IBM") << QByteArray("\xED\x40") << u("纊");
    QTest::newRow("IBM extension") << QByteArray("\xFA\x40\xFA\x55") << u("ⅰ￤");
    QTest::newRow("half-width kana") << QByteArray("\xB1\xB2") << u("ｱｲ");
    QTest::newRow("lead byte alone") << QByteArray("a\x81") << QString();
    QTest::newRow("unassigned row") << QByteArray("\x85\x40") << QString();
    QTest::newRow("byte FF") << QByteArray("\xFF") << QString();
}

void TestCsv::cp932Decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    exporting::Decoder decoder(exporting::Encoding::Cp932);
    QString out;
    QCOMPARE(decoder.decode(bytes, out), !text.isNull());
    if (!text.isNull())
        QCOMPARE(out, text);
    // A failure does not stick to the next field.
    QVERIFY(decoder.decode("\x82\xA0", out));
    QCOMPARE(out, u("あ"));
}

void TestCsv::reader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty") << QByteArray() << QStringList{"end"};
    QTest::newRow("byte order mark only") << QByteArray("\xEF\xBB\xBF") << QStringList{"end"};
    QTest::newRow("CR LF, last line ended") << QByteArray("a,b\r\nc,d\r\n") << QStringList{"1:a|b", "2:c|d", "end"};
    QTest::newRow("LF, last line unended") << QByteArray("a,b\nc,d") << QStringList{"1:a|b", "2:c|d", "end"};
    QTest::newRow("lone CR") << QByteArray("a\rb") << QStringList{"1:a", "2:b", "end"};
    QTest::newRow("trailing empty line") << QByteArray("a\r\n\r\n") << QStringList{"1:a", "2:", "end"};
    QTest::newRow("empty fields") << QByteArray(",,\n") << QStringList{"1:||", "end"};
    QTest::newRow("quoted comma, quote, line breaks")
        << QByteArray("\"a,b\",\"say \"\"hi\"\"\",\"x\r\ny\nz\"\r\nnext\r\n")
        << QStringList{"1:a,b|say \"hi\"|x\r\ny\nz", "4:next", "end"};
    QTest::newRow("quote inside an unquoted field") << QByteArray("5\"x,y\n") << QStringList{"1:5\"x|y", "end"};
    QTest::newRow("text after the closing quote") << QByteArray("\"a\"b,c\n") << QStringList{"1!:a|c", "end"};
    QTest::newRow("unterminated") << QByteArray("ok\n\"open,\nmore\n") << QStringList{"1:ok", "unterminated@2"};
    QTest::newRow("Shift_JIS bytes 5C and 7C stay in the field")
        << QByteArray("\x95\x5C,\x83\x7C\r\n") << QStringList{QString::fromLatin1("1:\x95\\|\x83|"), "end"};
}

void TestCsv::reader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    if (QByteArray(QTest::currentDataTag()).startsWith("Shift_JIS")) {
        // Compared as bytes: the fields are not UTF-8.
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        exporting::RecordReader reader(buffer, false);
        QCOMPARE(reader.next(), exporting::RecordReader::Status::Record);
        QCOMPARE(reader.fieldCount(), size_t(2));
        QCOMPARE(QByteArray::fromStdString(reader.fields()[0]), QByteArray("\x95\x5C"));
        QCOMPARE(QByteArray::fromStdString(reader.fields()[1]), QByteArray("\x83\x7C"));
        QCOMPARE(reader.next(), exporting::RecordReader::Status::End);
        return;
    }
    QCOMPARE(records(bytes), expected);
    // The same across block boundaries: a long first field moves the rest
    // over the reader's 64 KiB blocks at every offset near the edge.
    for (int pad = 65536 - 8; pad <= 65536; ++pad) {
        if (bytes.isEmpty() || bytes.startsWith('\xEF'))
            break;
        QByteArray shifted = QByteArray(pad, 'p') + ",";
        QStringList want = records(bytes);
        const QStringList got = records(shifted + bytes);
        QVERIFY2(got.size() == want.size(), qPrintable(QStringLiteral("pad %1").arg(pad)));
        QCOMPARE(got.mid(1), want.mid(1));
    }
}

void TestCsv::wholeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("number"); // null: refused
    QTest::newRow("plain") << u("123") << u("123");
    QTest::newRow("leading zeros") << u("007") << u("7");
    QTest::newRow("blanks around") << u(" 42　") << u("42");
    QTest::newRow("full-width digits") << u("１９８９") << u("1989");
    QTest::newRow("signs") << u("-5") << u("-5");
    QTest::newRow("full-width minus") << u("－５") << u("-5");
    QTest::newRow("largest") << u("9223372036854775807") << u("9223372036854775807");
    QTest::newRow("too large") << u("9223372036854775808") << QString();
    QTest::newRow("decimal") << u("1.0") << QString();
    QTest::newRow("thousands separator") << u("1,000") << QString();
    QTest::newRow("exponent") << u("1e3") << QString();
    QTest::newRow("sign alone") << u("-") << QString();
    QTest::newRow("kanji numeral") << u("十") << QString();
    QTest::newRow("Arabic-Indic digits") << u("١٢") << QString();
}

void TestCsv::wholeNumbers()
{
    QFETCH(QString, text);
    QFETCH(QString, number);
    const std::optional<QString> got = exporting::wholeNumber(text);
    QCOMPARE(got.has_value(), !number.isNull());
    if (got)
        QCOMPARE(*got, number);
}

// A heading names the fields in any order and any width of letters; what
// it does not name is left out and listed.
void TestCsv::headings_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("columns"); // the column of each field, -1 for none
    QTest::addColumn<QStringList>("ignored");
    QTest::newRow("blanks and order") << u(" 書名 ,\"蔵書番号\"　,貸出\r\n") << u("1 0 -1 -1 -1 -1 -1 2 -1")
                                      << QStringList{};
    QTest::newRow("half-width kana") << u("ｷｰﾜｰﾄﾞ,蔵書番号\r\n") << u("1 -1 -1 -1 -1 -1 -1 -1 0") << QStringList{};
    QTest::newRow("unknown, empty and repeated")
        << u("メモ,書名,,書名\r\n") << u("-1 1 -1 -1 -1 -1 -1 -1 -1")
        << QStringList{u("「メモ」"), u("3 列目（見出しなし）"), u("「書名」")};
    QTest::newRow("no heading: the first nine columns")
        << u("1,a,b,c,1990,d,e,可,f,extra\r\n") << u("0 1 2 3 4 5 6 7 8") << QStringList{u("10 列目")};
}

void TestCsv::headings()
{
    QFETCH(QString, line);
    QFETCH(QString, columns);
    QFETCH(QStringList, ignored);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.csv"));
    writeFile(path, QByteArray(exporting::Bom) + line.toUtf8());
    exporting::BookSource source(path, exporting::Encoding::Utf8);
    QVERIFY(!source.start());
    QStringList got;
    for (const int c : source.layout().column)
        got << QString::number(c);
    QCOMPARE(got.join(u' '), columns);
    QCOMPARE(source.layout().ignored, ignored);
}

void TestCsv::encodingDetection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("encoding");
    const int utf8 = int(exporting::Encoding::Utf8), sjis = int(exporting::Encoding::Cp932);
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF\x82\xA0") << utf8;
    QTest::newRow("ascii") << QByteArray("a,b\r\n") << utf8;
    QTest::newRow("UTF-8 without mark") << u("本,あ\n").toUtf8() << utf8;
    QTest::newRow("Shift_JIS") << QByteArray("\x96\x7B,\x82\xA0\r\n") << sjis;
    QTest::newRow("UTF-8 cut short at the end") << QByteArray("a\xE3\x81") << sjis;
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << sjis;
    QTest::newRow("UTF-8 across a block edge") << QByteArray(65535, 'a') + u("本").toUtf8() << utf8;
    QTest::newRow("Shift_JIS late in the file") << QByteArray(200000, 'a') + "\x96\x7B" << sjis;
}

void TestCsv::encodingDetection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, encoding);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("books.csv"));
    writeFile(path, bytes);
    QCOMPARE(int(exporting::detectEncoding(path)), encoding);
}

// Files as Japanese Excel saves them, byte for byte: "CSV UTF-8" with a
// byte order mark, and "CSV" in code page 932; neither quotes what needs no
// quotes, both end lines in CR LF. Each imports as the same books.
void TestCsv::excelFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QString sheet = u("蔵書番号,書名,著者名,出版社,出版年,分類,保管場所,貸出,キーワード\r\n"
                            "1,吾輩は猫である,夏目漱石,岩波書店,1990,文学,書斎①,可,\"猫,明治\"\r\n"
                            "２,\"「\"\"引用\"\"」～㈱\",,,,,,中,\r\n");
    QTest::newRow("CSV UTF-8") << QByteArray(exporting::Bom) + sheet.toUtf8();
    QTest::newRow("CSV Shift_JIS") << cp932(sheet);
}

void TestCsv::excelFiles()
{
    QFETCH(QByteArray, bytes);
    AppDir dir;
    const QString path = dir.path() + QStringLiteral("/excel.csv");
    writeFile(path, bytes);
    const exporting::Encoding encoding = exporting::detectEncoding(path);
    QCOMPARE(exporting::checkFile(path, encoding).problemCount, qint64(0));
    auto connection = open(dir);
    QCOMPARE(exporting::importFile(*connection, path, encoding), qint64(2));
    const QList<Book> expected = {
        book({"1", "吾輩は猫である", "夏目漱石", "岩波書店", "1990", "文学", "書斎①", "可", "猫,明治"}),
        book({"2", "「\"引用\"」～㈱", nullptr, nullptr, nullptr, nullptr, nullptr, "中", nullptr}),
    };
    QCOMPARE(dir.rows(), expected);
    QCOMPARE(dir.rows(QStringLiteral("typeof(蔵書番号) = 'integer'")).size(), 2);
}

// Every kind of bad line is found, on its line, and counted; a file with
// any problem imports nothing.
void TestCsv::problems_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<qint64>("count");
    const int utf8 = int(exporting::Encoding::Utf8), sjis = int(exporting::Encoding::Cp932);
    const QByteArray head = u("蔵書番号,書名,貸出\r\n").toUtf8();
    QTest::newRow("empty file") << QByteArray() << utf8 << QStringList{u("ファイルが空です。取り込む本がありません")}
                                << qint64(1);
    QTest::newRow("blank lines only") << QByteArray("\xEF\xBB\xBF\r\n\r\n") << utf8
                                      << QStringList{u("ファイルが空です。取り込む本がありません")} << qint64(1);
    QTest::newRow("heading only") << head << utf8
                                  << QStringList{u("見出しの行のほかに本の行がありません。取り込む本がありません")}
                                  << qint64(1);
    QTest::newRow("bad numbers and lending")
        << head + u("1,a,可\r\nabc,b,\r\n1.5,c,\r\n3,d,貸出中\r\n４,e,中\r\n").toUtf8() << utf8
        << QStringList{u("3 行目: 蔵書番号「abc」が整数ではありません"),
                       u("4 行目: 蔵書番号「1.5」が整数ではありません"),
                       u("5 行目: 貸出「貸出中」は「可」「中」または空欄でなければなりません")}
        << qint64(3);
    QTest::newRow("empty rows as spreadsheets write them are skipped")
        << head + QByteArray(",,,,\r\n\r\n1,a,\r\n,\r\n") + "x,a,\r\n"
        << utf8 << QStringList{u("6 行目: 蔵書番号「x」が整数ではありません")} << qint64(1);
    QTest::newRow("ragged rows") << head + QByteArray("1,a\r\n2,b,,x\r\n3,c,\r\n") << utf8
                                 << QStringList{u("2 行目: 項目の数が 2 です（3 のはずです）"),
                                                u("3 行目: 項目の数が 4 です（3 のはずです）")}
                                 << qint64(2);
    QTest::newRow("line numbers after a line break in a field")
        << head + QByteArray("1,\"two\nlines\",\r\nx,b,\r\n") << utf8
        << QStringList{u("4 行目: 蔵書番号「x」が整数ではありません")} << qint64(1);
    QTest::newRow("unterminated quote")
        << head + QByteArray("1,\"open,\r\n2,b,\r\n") << utf8
        << QStringList{u("2 行目: 引用符 (\") で始まる項目が閉じられないまま、ファイルが終わっています")} << qint64(1);
    QTest::newRow("text after a closing quote")
        << head + QByteArray("1,\"a\"b,\r\n") << utf8
        << QStringList{u("2 行目: 引用符 (\") で囲んだ項目の後ろに余分な文字があります")} << qint64(1);
    QTest::newRow("not UTF-8") << head + QByteArray("1,\x96\x7B,\r\n") << utf8
                               << QStringList{u("2 行目: 2 列目に UTF-8 として読めない文字があります")} << qint64(1);
    QTest::newRow("not Shift_JIS") << QByteArray("1,a,b,c,1990,d,e,\x85\x40,f\r\n") << sjis
                                   << QStringList{u("1 行目: 8 列目に Shift_JIS (CP932) として読めない文字があります")}
                                   << qint64(1);
    QTest::newRow("no heading and too few columns")
        << QByteArray("1,a,b\r\n") << utf8
        << QStringList{u("1 行目: 見出しの行がなく、項目が 3 つしかありません（9 つの項目を順に並べてください）")}
        << qint64(1);
    QByteArray many = head;
    for (int i = 0; i < 150; ++i)
        many += "x,a,\r\n";
    QTest::newRow("many problems are counted") << many << utf8 << QStringList{} << qint64(150);
}

void TestCsv::problems()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, encoding);
    QFETCH(QStringList, expected);
    QFETCH(qint64, count);
    AppDir dir;
    dir.insert({book({"99", "元からある本"})});
    const QString path = dir.path() + QStringLiteral("/bad.csv");
    writeFile(path, bytes);
    const exporting::Check check = exporting::checkFile(path, exporting::Encoding(encoding));
    QCOMPARE(check.problemCount, count);
    QCOMPARE(check.problems.size(), qMin<qsizetype>(count, exporting::MaxProblems));
    if (!expected.isEmpty()) {
        QStringList got;
        for (const exporting::Problem &p : check.problems)
            got << exporting::describe(p);
        QCOMPARE(got, expected);
    }
    auto connection = open(dir);
    QVERIFY_THROWS_EXCEPTION(store::Error, exporting::importFile(*connection, path, exporting::Encoding(encoding)));
    QCOMPARE(dir.rows(), QList<Book>{book({"99", "元からある本"})});
}

// A file that cannot be read is reported with its name and the reason.
void TestCsv::unreadableFiles()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.csv"));
    const QString locked = dir.filePath(QStringLiteral("locked.csv"));
    writeFile(locked, "1,a,b,c,1,d,e,,f\r\n");
    QFile::setPermissions(locked, QFileDevice::WriteOwner);
    struct Case {
        QString path;
        const char *reason;
        bool skip;
    };
    const Case cases[] = {
        {missing, "", false},
        {dir.path(), "", false},
        {QStringLiteral("/dev/full"), "通常のファイルではありません", !QFile::exists(QStringLiteral("/dev/full"))},
        {locked, "", ::geteuid() == 0}, // root reads any file
    };
    for (const Case &c : cases) {
        if (c.skip)
            continue;
        try {
            exporting::detectEncoding(c.path);
            QFAIL(qPrintable(c.path + QStringLiteral(" was read")));
        } catch (const store::Error &e) {
            const QStringList lines = e.message().split(u'\n');
            QCOMPARE(lines.value(0), u("CSV ファイルを読めません。"));
            QCOMPARE(lines.value(1), c.path);
            QVERIFY2(lines.value(2).startsWith(u'（') && lines.value(2).contains(QString::fromUtf8(c.reason)),
                     qPrintable(e.message()));
        }
        QVERIFY_THROWS_EXCEPTION(store::Error, exporting::checkFile(c.path, exporting::Encoding::Utf8));
    }
}

// The bytes written: heading, every field quoted, quotes doubled, CR LF,
// NULL empty, numbers in plain digits; UTF-8 with its mark, or code page
// 932 with the JIS forms written as Windows writes them.
void TestCsv::exportBytes()
{
    AppDir dir;
    dir.insert({book({"2", "say \"hi\", ok", "〜‖−", nullptr, "1990", nullptr, "棚\r\n2", "中", "①㈱"}), book({"10"})});
    dir.exec(QStringLiteral("INSERT INTO tabel (蔵書番号, 出版年) VALUES (1, 1989.5)"));
    const QString path = dir.path() + QStringLiteral("/out.csv");
    const QString rows = u("\"1\",\"\",\"\",\"\",\"1989.5\",\"\",\"\",\"\",\"\"\r\n"
                           "\"2\",\"say \"\"hi\"\", ok\",\"〜‖−\",\"\",\"1990\",\"\",\"棚\r\n2\",\"中\",\"①㈱\"\r\n"
                           "\"10\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n");
    exporting::ExportOutcome outcome = exportAll(dir, path, exporting::Encoding::Utf8);
    QCOMPARE(int(outcome.status), int(exporting::ExportOutcome::Status::Written));
    QCOMPARE(outcome.books, qint64(3));
    QCOMPARE(readFile(path), QByteArray(exporting::Bom) + Heading + rows.toUtf8());

    outcome = exportAll(dir, path, exporting::Encoding::Cp932);
    QCOMPARE(int(outcome.status), int(exporting::ExportOutcome::Status::Written));
    QByteArray expected = cp932(QString::fromUtf8(Heading) + rows);
    QVERIFY(expected.contains("\x81\x60\x81\x61\x81\x7C")); // 〜‖− as ～∥－
    QCOMPARE(readFile(path), expected);
}

// A character code page 932 lacks stops the export before anything is
// written, naming the book and the field; the file there stays.
void TestCsv::unencodableStopsExport()
{
    AppDir dir;
    dir.insert({book({"1", "普通の本"}), book({"7", "ok", "𠮷野家"})});
    const QString path = dir.path() + QStringLiteral("/out.csv");
    writeFile(path, "old");
    const exporting::ExportOutcome outcome = exportAll(dir, path, exporting::Encoding::Cp932);
    QCOMPARE(int(outcome.status), int(exporting::ExportOutcome::Status::Unencodable));
    QCOMPARE(outcome.message,
             u("蔵書番号 7 の本（2 冊目）の「著者名」にある文字「𠮷」（U+20BB7）は Shift_JIS (CP932) で書けません。"));
    QCOMPARE(readFile(path), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("out.csv")),
             QStringList{QStringLiteral("out.csv")});
    QCOMPARE(int(exportAll(dir, path, exporting::Encoding::Utf8).status),
             int(exporting::ExportOutcome::Status::Written));
}

// A folder that is full or read-only, a folder or pipe as the file, a cancel: the
// failure is told with the file and the reason, and what was there stays.
void TestCsv::failedExportKeepsFile()
{
    AppDir dir;
    QList<Book> books;
    for (int i = 0; i < 3000; ++i)
        books << book({QByteArray::number(i).constData(), "長い書名がここに入ります長い書名がここに入ります"});
    dir.insert(books);
    for (const auto kind : {FaultyFolder::Full, FaultyFolder::ReadOnly}) {
        const QString folder = dir.path() + (kind == FaultyFolder::Full ? "/full" : "/readonly");
        FaultyFolder faulty(folder, kind);
        if (!faulty.available())
            continue;
        const QString path = folder + QStringLiteral("/out.csv");
        writeFile(path, "old");
        faulty.seal();
        const exporting::ExportOutcome outcome = exportAll(dir, path, exporting::Encoding::Utf8);
        QCOMPARE(int(outcome.status), int(exporting::ExportOutcome::Status::Failed));
        QVERIFY2(
            outcome.message.startsWith(u("CSV ファイルを書き出せませんでした。\n") + path + QStringLiteral("\n（")),
            qPrintable(outcome.message));
        QCOMPARE(readFile(path), QByteArray("old"));
    }
    // A folder or a pipe given as the file: refused, left as they are.
    const QString pipe = dir.path() + QStringLiteral("/pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const QString &notFile : {dir.path(), pipe}) {
        const exporting::ExportOutcome outcome = exportAll(dir, notFile, exporting::Encoding::Utf8);
        QCOMPARE(int(outcome.status), int(exporting::ExportOutcome::Status::Failed));
        QVERIFY(outcome.message.startsWith(u("CSV ファイルを書き出せませんでした。\n") + notFile));
    }
    QVERIFY(QFileInfo(dir.path()).isDir());
    QVERIFY(!QFileInfo(pipe).isFile() && QFileInfo::exists(pipe));
    // Cancelled halfway: the file there stays, no temporary file is left.
    const QString path = dir.path() + QStringLiteral("/kept.csv");
    writeFile(path, "old");
    store::RecordSet rows(open(dir), store::RecordSource::wholeTable());
    const exporting::ExportOutcome cancelled =
        exporting::exportCsv(rows, path, exporting::Encoding::Cp932, [](qint64 done) { return done < 2048; });
    QCOMPARE(int(cancelled.status), int(exporting::ExportOutcome::Status::Cancelled));
    QCOMPARE(readFile(path), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("kept")),
             QStringList{"kept.csv"});
}

// A failure in the middle of the write (here a lock by another program)
// leaves the collection exactly as it was.
void TestCsv::failedImportWritesNothing()
{
    AppDir dir;
    dir.insert({book({"1", "元"})});
    const QString path = dir.path() + QStringLiteral("/in.csv");
    QByteArray bytes = u("蔵書番号,書名\r\n").toUtf8();
    for (int i = 0; i < 5000; ++i)
        bytes += QByteArray::number(i) + ",x\r\n";
    writeFile(path, bytes);
    auto connection = open(dir);
    {
        FileLock lock(dir.dbPath());
        store::BusyWait::setLimit(std::chrono::milliseconds(50));
        QVERIFY_THROWS_EXCEPTION(store::Error, exporting::importFile(*connection, path, exporting::Encoding::Utf8));
        store::BusyWait::setLimit(std::chrono::milliseconds(1500));
    }
    QCOMPARE(dir.count(), 1);
    // A cancel halfway through.
    int calls = 0;
    QVERIFY_THROWS_EXCEPTION(exporting::Cancelled, exporting::importFile(*connection, path, exporting::Encoding::Utf8,
                                                                         [&](qint64) { return ++calls < 3; }));
    QCOMPARE(dir.count(), 1);
    QCOMPARE(exporting::importFile(*connection, path, exporting::Encoding::Utf8), qint64(5000));
    QCOMPARE(dir.count(), 5001);
}

QTEST_GUILESS_MAIN(TestCsv)
#include "test_csv.moc"
