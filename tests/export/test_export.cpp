#include "export/workbook.h"
#include "screens/common/datacontrol.h"
#include "screens/list/grid.h"
#include "screens/list/listscreen.h"
#include "support/testsupport.h"
#include "support/unavailable.h"
#include "xls_readback.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <cmath>
#include <csignal>
#include <sys/resource.h>

using namespace testsupport;
using namespace screens;

Q_DECLARE_METATYPE(store::RecordSource)

namespace {

// What the worksheet must hold for a row set: numbers as numbers, texts as
// texts, NULL as an empty cell.
SheetCells expectedGrid(const store::RecordSet &rs)
{
    SheetCells g;
    for (int i = 0; i < rs.recordCount(); ++i) {
        std::vector<QVariant> row;
        for (const QVariant &v : rs.row(i)) {
            if (v.typeId() == QMetaType::LongLong)
                row.push_back(double(v.toLongLong()));
            else if (v.isNull() || v.toString().isEmpty())
                row.push_back(QVariant());
            else
                row.push_back(v);
        }
        while (!row.empty() && !row.back().isValid())
            row.pop_back();
        g.push_back(row);
    }
    // A reader sees the sheet up to its last cell: trailing empty rows vanish.
    while (!g.empty() && g.back().empty())
        g.pop_back();
    return g;
}

// Rows as readers compare them: without their trailing empty cells.
SheetCells trimmed(SheetCells g)
{
    for (auto &row : g) {
        while (!row.empty() && !row.back().isValid())
            row.pop_back();
    }
    return g;
}

SheetCells readBack(const QString &path)
{
    SheetCells g;
    QString error;
    if (!readWithFreeXl(path, g, error))
        qFatal("FreeXL cannot read %s: %s", qPrintable(path), qPrintable(error));
    return trimmed(g);
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The list screen open on the books given.
struct ListOpen : Opened<ListScreen> {
    explicit ListOpen(const QList<Book> &books) : Opened(books) {}
    const store::RecordSet &rs() const { return *screen->Data1->recordset(); }
    void exportNow() const { click(screen, "Command4"); }
};

} // namespace

// The export of the list on screen into ブクレア.xls, read back with FreeXL.
class TestExport : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeScreens(); }

    void writesTheRowsOnScreen_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("rows");
        QTest::newRow("after load") << "" << 5;
        QTest::newRow("after search") << "search 猫" << 2;
        QTest::newRow("after sort") << "Command2" << 5;
        QTest::newRow("search without hit") << "search 該当なし" << 0;
    }
    void writesTheRowsOnScreen()
    {
        QFETCH(QString, action);
        QFETCH(int, rows);
        ListOpen o({book({"3", "吾輩は猫である", "夏目漱石", "大倉書店", "1905", "9 文学", "書斎", "可", "猫 名作"}),
                    book({"1", "坊っちゃん", "夏目漱石", nullptr, "1906", "9 文学", nullptr, "中", nullptr}),
                    book({"10", "猫の事務所", "宮沢賢治", nullptr, nullptr, "007", "棚 ２", nullptr, "O'Brien"}),
                    book({"2", "銀河鉄道の夜", "宮沢賢治", "岩波書店", "1934", "9 文学", "居間", "可", "星"}),
                    book({nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr})});
        if (action.startsWith(QLatin1String("search "))) {
            o.screen->Text1->setText(action.mid(7));
            click(o.screen, "Command14");
        } else if (!action.isEmpty()) {
            click(o.screen, action.toLatin1().constData());
        }
        auto *grid = o.screen->fg;
        grid->setCurrentIndex(grid->model()->index(rows > 1 ? 1 : 0, 2));
        const QModelIndex current = grid->currentIndex();
        const int position = o.rs().absolutePosition();
        const int messagesBefore = int(o.messages.shown.size());

        o.exportNow();

        QCOMPARE(int(o.messages.shown.size()), messagesBefore); // asks and reports nothing
        const SheetCells sheet = readBack(exporting::exportPath());
        QCOMPARE(o.rs().recordCount(), rows);
        QVERIFY(sheet == expectedGrid(o.rs()));
        // Neither the grid nor the record set moved.
        QCOMPARE(grid->currentIndex(), current);
        QCOMPARE(o.rs().absolutePosition(), position);
        QCOMPARE(liveWindows(QStringLiteral("exportProgress")), 0);
        QVERIFY(QFileInfo(exporting::exportPath()).absolutePath() == QDir(o.dir.path()).absolutePath());
    }

    void keepsLongJapaneseTextAndLeadingZeros()
    {
        const QString longTitle = QString(u'漢').repeated(10000);
        ListOpen o({book({"1", longTitle.toUtf8().constData(), "著者", nullptr, "2001", "007"})});
        o.exportNow();
        // FreeXL misreads texts that go on over several records; xlrd reads them.
        SheetCells sheet;
        QString error;
        bool unavailable = false;
        if (!readWithXlrd(exporting::exportPath(), sheet, error, unavailable)) {
            if (unavailable)
                SKIP_UNAVAILABLE("python3-xlrd is not installed");
            QFAIL(qPrintable(error));
        }
        QCOMPARE(sheet.size(), size_t(1));
        QCOMPARE(sheet[0][1].toString(), longTitle);
        QCOMPARE(sheet[0][5].toString(), QStringLiteral("007"));
        QCOMPARE(sheet[0][0].toDouble(), 1.0);
    }

    void replacesAnExistingFileOnlyWhenAsked_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(QMessageBox::Yes);
        QTest::newRow("no") << int(QMessageBox::No);
    }
    void replacesAnExistingFileOnlyWhenAsked()
    {
        QFETCH(int, answer);
        ListOpen o({book({"1", "本"})});
        QVERIFY(writeFile(exporting::exportPath(), "an earlier workbook"));
        o.messages.answer(QMessageBox::StandardButton(answer));
        o.exportNow();
        QCOMPARE(o.messages.shown.size(), 1);
        const screens::Message &q = o.messages.shown[0];
        QCOMPARE(q.title, QStringLiteral("Excelデータ変換"));
        QCOMPARE(q.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(q.defaultButton, QMessageBox::Yes);
        QVERIFY(q.text.contains(QStringLiteral("ブクレア.xls")));
        if (answer == QMessageBox::Yes) {
            QVERIFY(readBack(exporting::exportPath()) == expectedGrid(o.rs()));
        } else {
            QCOMPARE(contents(exporting::exportPath()), QByteArray("an earlier workbook"));
        }
    }

    void refusedListsWriteNothing_data()
    {
        QTest::addColumn<int>("books");
        QTest::addColumn<int>("textLength");
        QTest::addColumn<QString>("message");
        QTest::newRow("32,768 characters") << 3 << 32768 << "蔵書番号 2「";
        QTest::newRow("32,768 characters on the second sheet") << 65538 << 32768 << "蔵書番号 65538「";
    }
    void refusedListsWriteNothing()
    {
        QFETCH(int, books);
        QFETCH(int, textLength);
        QFETCH(QString, message);
        QList<Book> list;
        for (int i = 1; i <= books; ++i) {
            const int tooLong = books > 3 ? books : 2; // the last book or the second
            const QByteArray title = i == tooLong ? QByteArray(textLength, 'x') : QByteArray("title");
            list << book({QByteArray::number(i).constData(), title.constData()});
        }
        ListOpen o(list);
        QVERIFY(writeFile(exporting::exportPath(), "kept"));
        o.messages.answer(QMessageBox::Yes); // replace: yes
        o.exportNow();
        QCOMPARE(o.messages.shown.size(), 2);
        const screens::Message &m = o.messages.shown[1];
        QCOMPARE(m.icon, QMessageBox::Critical);
        QVERIFY2(m.text.contains(message), qPrintable(m.text));
        QVERIFY2(m.text.contains(QStringLiteral("書名")), qPrintable(m.text));
        QCOMPARE(contents(exporting::exportPath()), QByteArray("kept"));
        QCOMPARE(QDir(o.dir.path()).entryList({QStringLiteral("*.xls*")}, QDir::Files), QStringList({"ブクレア.xls"}));
    }

    // Every book is written: 65,536 on the first worksheet, as a reader that
    // opens only that one sees them, the rest in order on the next ones,
    // with the same columns. Read back by FreeXL, xlrd and LibreOffice.
    void everyBookOnSheetsInOrder_data()
    {
        QTest::addColumn<int>("books");
        QTest::addColumn<QList<int>>("rowsPerSheet");
        QTest::newRow("65,536: one full sheet") << 65536 << QList<int>{65536};
        QTest::newRow("70,000: 65,536 + 4,464") << 70000 << QList<int>{65536, 4464};
    }
    void everyBookOnSheetsInOrder()
    {
        QFETCH(int, books);
        QFETCH(QList<int>, rowsPerSheet);
        QList<Book> list;
        for (int i = books; i >= 1; --i) { // stored backwards: the list's order is the export's
            const QByteArray n = QByteArray::number(i), title = "題名, \"" + n + '"';
            list << book({n.constData(), title.constData(), "著者", nullptr, i % 7 ? "1999" : nullptr, "9 文学", "棚",
                          i % 2 ? "可" : "中", "語 " + n});
        }
        ListOpen o(list);
        o.exportNow();
        QVERIFY(o.messages.shown.isEmpty());
        QStringList names;
        std::vector<SheetCells> want;
        const SheetCells all = expectedGrid(o.rs());
        for (int k = 0, first = 0; k < rowsPerSheet.size(); first += rowsPerSheet[k++]) {
            names << QStringLiteral("Sheet%1").arg(k + 1);
            want.emplace_back(all.begin() + first, all.begin() + first + rowsPerSheet[k]);
        }
        QCOMPARE(readBack(exporting::exportPath()), want.front()); // the first sheet alone, as before

        // The slower readers (seconds each) where there is more than one sheet.
        SheetsRead byFreeXl, byXlrd, byLibreOffice;
        QString error;
        const bool several = rowsPerSheet.size() > 1;
        bool noXlrd = !several, noLibreOffice = !several;
        QVERIFY2(readWithFreeXl(exporting::exportPath(), byFreeXl, error), qPrintable(error));
        QVERIFY2(!several || readWithXlrd(exporting::exportPath(), byXlrd, error, noXlrd) || noXlrd, qPrintable(error));
        QVERIFY2(!several || readWithLibreOffice(exporting::exportPath(), byLibreOffice, error, noLibreOffice)
                     || noLibreOffice,
                 qPrintable(error));
        for (const SheetsRead *read : {&byFreeXl, noXlrd ? nullptr : &byXlrd}) {
            if (!read)
                continue;
            QCOMPARE(read->names, names);
            QCOMPARE(read->sheets.size(), want.size());
            for (size_t k = 0; k < want.size(); ++k) {
                QVERIFY2(trimmed(read->sheets[k]) == want[k], qPrintable(names[int(k)]));
            }
        }
        if (!noLibreOffice) {
            // LibreOffice gives every cell as the text it shows.
            QCOMPARE(byLibreOffice.names, names);
            for (size_t k = 0; k < want.size(); ++k) {
                QCOMPARE(byLibreOffice.sheets[k].size(), want[k].size());
                for (size_t r = 0; r < want[k].size(); ++r) {
                    QStringList shown, expected;
                    for (const QVariant &v : byLibreOffice.sheets[k][r])
                        shown << v.toString();
                    for (const QVariant &v : want[k][r])
                        expected << v.toString();
                    while (shown.size() > expected.size() && shown.back().isEmpty())
                        shown.removeLast();
                    QCOMPARE(shown, expected);
                }
            }
        }
        if (several && (noXlrd || noLibreOffice))
            SKIP_UNAVAILABLE(noXlrd ? "python3-xlrd is not installed" : "LibreOffice (soffice) is not installed");
    }

    // Whatever the file holds is written as the list reads it: numbers that
    // a double holds exactly as numbers, other numbers (past 2^53, infinite)
    // as their text, texts decoded as the list decodes them (malformed
    // UTF-8, a leading U+FEFF, bytes stored as a blob), NULL and empty texts
    // as empty cells; in a sorted list, in the table's own order and in a
    // search.
    void writesValuesAsTheListReadsThem_data()
    {
        using store::Direction, store::Field, store::RecordSource;
        QTest::addColumn<RecordSource>("source");
        QTest::newRow("sorted") << RecordSource::sorted(Field::Number, Direction::Ascending);
        QTest::newRow("table order") << RecordSource::wholeTable();
        QTest::newRow("search")
            << RecordSource::search(Field::Title, QStringLiteral("*a*")).orderedBy(Field::Number, Direction::Ascending);
    }
    void writesValuesAsTheListReadsThem()
    {
        QFETCH(store::RecordSource, source);
        ListOpen o({});
        // Columns: number, title, year (numbers stay numbers), keyword (numbers become texts).
        o.dir.exec(QStringLiteral("INSERT INTO tabel (蔵書番号, 書名, 出版年, キーワード) VALUES "
                                  "(7, '', -9007199254740992, 'ｱｲｳ𠮷'),"
                                  "(1, 'abc', 0.1, CAST(X'61FF62' AS TEXT)),"
                                  "(2, CAST(X'EFBBBF616263' AS TEXT), 1e300, 'abc'),"
                                  "(3, '9007199254740993a', 9007199254740993, X'E38182'),"
                                  "(4, 'abc', 9e999, CAST(X'E38178' AS TEXT)),"
                                  "(5, 'xa', 9007199254740991, 'xa'),"
                                  "(6, 'abc', 1234.56, NULL),"
                                  "(8, 'a', -9e999, 9007199254740993),"
                                  "(9, 'a', 536870912, 0.07)"));
        store::RecordSet rs(store::Connection::open(o.dir.dbPath()), source);
        QVERIFY(rs.recordCount() > 0);
        exporting::Workbook book;
        QVERIFY2(book.copyFromRecordset(rs), qPrintable(book.error()));
        QVERIFY2(book.saveAs(exporting::exportPath()), qPrintable(book.error()));

        SheetCells want;
        for (int i = 0; i < rs.recordCount(); ++i) {
            std::vector<QVariant> row;
            for (const QVariant &v : rs.row(i)) {
                const bool exact = v.typeId() == QMetaType::LongLong
                                       ? std::abs(v.toLongLong()) < (1LL << 53)
                                       : v.typeId() == QMetaType::Double && std::isfinite(v.toDouble());
                row.push_back(exact                                  ? QVariant(v.toDouble())
                              : v.isNull() || v.toString().isEmpty() ? QVariant()
                                                                     : QVariant(v.toString()));
            }
            want.push_back(row);
        }
        want = trimmed(want);
        QVERIFY(want.size() >= 2 && want[0].size() > 2);
        QCOMPARE(readBack(exporting::exportPath()), want);
        SheetCells byXlrd;
        QString error;
        bool unavailable = false;
        if (!readWithXlrd(exporting::exportPath(), byXlrd, error, unavailable)) {
            if (unavailable)
                SKIP_UNAVAILABLE("python3-xlrd is not installed");
            QFAIL(qPrintable(error));
        }
        QCOMPARE(trimmed(byXlrd), want);
    }

    // A save the system refuses (here: files may not grow past a few
    // kilobytes, as on a disk that is full) names the file and the cause in
    // Japanese, keeps the earlier workbook and leaves no file behind.
    void refusedSaveKeepsTheEarlierFile()
    {
        ListOpen o({book({"1", "本"})});
        QList<Book> many;
        for (int i = 0; i < 2000; ++i)
            many << book({"1", "ずっと続く書名", "著者"});
        o.dir.insert(many);
        store::RecordSet rs(store::Connection::open(o.dir.dbPath()), store::RecordSource::wholeTable());
        exporting::Workbook book;
        QVERIFY(book.copyFromRecordset(rs));
        QVERIFY(writeFile(exporting::exportPath(), "kept"));
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit small = before;
        small.rlim_cur = 8192;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool saved = book.saveAs(exporting::exportPath());
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!saved);
        QVERIFY2(book.error().contains(exporting::exportPath())
                     && book.error().contains(QStringLiteral("ファイルが大きすぎます")),
                 qPrintable(book.error()));
        QCOMPARE(contents(exporting::exportPath()), QByteArray("kept"));
        QCOMPARE(QDir(o.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"BR.mdb", "ブクレア.xls"}));
    }

    void failureNamesThePath()
    {
        ListOpen o({book({"1", "本"})});
        QVERIFY(QDir(o.dir.path()).mkdir(QStringLiteral("ブクレア.xls"))); // the name is taken by a folder
        o.messages.answer(QMessageBox::Yes);
        o.exportNow();
        QCOMPARE(o.messages.shown.size(), 2);
        QCOMPARE(o.messages.shown[1].icon, QMessageBox::Critical);
        QVERIFY2(o.messages.shown[1].text.contains(exporting::exportPath()), qPrintable(o.messages.shown[1].text));
        QVERIFY2(o.messages.shown[1].text.contains(QStringLiteral("ファイルではなくフォルダーです")),
                 qPrintable(o.messages.shown[1].text));
        QVERIFY(QFileInfo(exporting::exportPath()).isDir());
        QCOMPARE(QDir(o.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"BR.mdb"}));
        QVERIFY(o.screen->isVisible()); // still usable
    }
};

QTEST_MAIN(TestExport)
#include "test_export.moc"
