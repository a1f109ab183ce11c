#include "export/workbook.h"
#include "screens/list/db.h"
#include "screens/list/grid.h"
#include "screens/common/datacontrol.h"
#include "support/testsupport.h"
#include "xls_readback.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace testsupport;
using namespace screens;

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

SheetCells readBack(const QString &path)
{
    SheetCells g;
    QString error;
    if (!readWithFreeXl(path, g, error))
        qFatal("FreeXL cannot read %s: %s", qPrintable(path), qPrintable(error));
    for (auto &row : g) {
        while (!row.empty() && !row.back().isValid())
            row.pop_back();
    }
    return g;
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
struct ListOpen : Opened<db> {
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
        const SheetCells sheet = readBack(xls::exportPath());
        QCOMPARE(o.rs().recordCount(), rows);
        QVERIFY(sheet == expectedGrid(o.rs()));
        // Neither the grid nor the record set moved.
        QCOMPARE(grid->currentIndex(), current);
        QCOMPARE(o.rs().absolutePosition(), position);
        QCOMPARE(liveWindows(QStringLiteral("exportProgress")), 0);
        QVERIFY(QFileInfo(xls::exportPath()).absolutePath() == QDir(o.dir.path()).absolutePath());
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
        if (!readWithXlrd(xls::exportPath(), sheet, error, unavailable)) {
            if (unavailable)
                QSKIP("python3-xlrd is not installed");
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
        QVERIFY(writeFile(xls::exportPath(), "an earlier workbook"));
        o.messages.answer(QMessageBox::StandardButton(answer));
        o.exportNow();
        QCOMPARE(o.messages.shown.size(), 1);
        const common::Message &q = o.messages.shown[0];
        QCOMPARE(q.title, QStringLiteral("Excelデータ変換"));
        QCOMPARE(q.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(q.defaultButton, QMessageBox::Yes);
        QVERIFY(q.text.contains(QStringLiteral("ブクレア.xls")));
        if (answer == QMessageBox::Yes) {
            QVERIFY(readBack(xls::exportPath()) == expectedGrid(o.rs()));
        } else {
            QCOMPARE(contents(xls::exportPath()), QByteArray("an earlier workbook"));
        }
    }

    void refusedListsWriteNothing_data()
    {
        QTest::addColumn<int>("books");
        QTest::addColumn<int>("textLength");
        QTest::addColumn<QString>("message");
        QTest::newRow("65,537 rows") << 65537 << 1 << "65536";
        QTest::newRow("32,768 characters") << 3 << 32768 << "蔵書番号 2「";
    }
    void refusedListsWriteNothing()
    {
        QFETCH(int, books);
        QFETCH(int, textLength);
        QFETCH(QString, message);
        QList<Book> list;
        for (int i = 1; i <= books; ++i) {
            const QByteArray title = i == 2 ? QByteArray(textLength, 'x') : QByteArray("title");
            list << book({QByteArray::number(i).constData(), title.constData()});
        }
        ListOpen o(list);
        QVERIFY(writeFile(xls::exportPath(), "kept"));
        o.messages.answer(QMessageBox::Yes); // replace: yes
        o.exportNow();
        QCOMPARE(o.messages.shown.size(), 2);
        const common::Message &m = o.messages.shown[1];
        QCOMPARE(m.icon, QMessageBox::Critical);
        QVERIFY2(m.text.contains(message), qPrintable(m.text));
        if (textLength > 1)
            QVERIFY2(m.text.contains(QStringLiteral("書名")), qPrintable(m.text));
        QCOMPARE(contents(xls::exportPath()), QByteArray("kept"));
        QCOMPARE(QDir(o.dir.path()).entryList({QStringLiteral("*.xls*")}, QDir::Files), QStringList({"ブクレア.xls"}));
    }

    void fullSheetIsWritten()
    {
        QList<Book> list;
        for (int i = 1; i <= 65536; ++i)
            list << book({QByteArray::number(i).constData(), "題名", nullptr, nullptr, "1999"});
        ListOpen o(list);
        o.exportNow();
        const SheetCells sheet = readBack(xls::exportPath());
        QCOMPARE(sheet.size(), size_t(65536));
        QCOMPARE(sheet.back()[0].toDouble(), 65536.0);
        QVERIFY(o.messages.shown.isEmpty());
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
        store::RecordSet rs(store::Connection::open(o.dir.dbPath()), QStringLiteral("tabel"));
        xls::Workbook book;
        QVERIFY(book.copyFromRecordset(rs));
        QVERIFY(writeFile(xls::exportPath(), "kept"));
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit small = before;
        small.rlim_cur = 8192;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool saved = book.saveAs(xls::exportPath());
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!saved);
        QVERIFY2(book.error().contains(xls::exportPath()) && book.error().contains(QStringLiteral("ファイルが大きすぎます")),
                 qPrintable(book.error()));
        QCOMPARE(contents(xls::exportPath()), QByteArray("kept"));
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
        QVERIFY2(o.messages.shown[1].text.contains(xls::exportPath()), qPrintable(o.messages.shown[1].text));
        QVERIFY2(o.messages.shown[1].text.contains(QStringLiteral("ファイルではなくフォルダーです")), qPrintable(o.messages.shown[1].text));
        QVERIFY(QFileInfo(xls::exportPath()).isDir());
        QCOMPARE(QDir(o.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"BR.mdb"}));
        QVERIFY(o.screen->isVisible()); // still usable
    }
};

QTEST_MAIN(TestExport)
#include "test_export.moc"
