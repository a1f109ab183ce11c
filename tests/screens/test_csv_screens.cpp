#include "../export/csvtestfiles.h"
#include "export/csvcodec.h"
#include "screens/common/csvpreview.h"
#include "screens/common/datascreen.h"
#include "screens/common/filedialogs.h"
#include "screens/edit/editscreen.h"
#include "screens/list/listscreen.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace testsupport;
using namespace csvtest;
using namespace screens;

namespace {

// Chooses files in place of a user: the answer for the next dialog, and
// every dialog asked for.
struct FileScript {
    FileScript()
    {
        screens::setFileDialogHandler([this](const screens::FileRequest &r) {
            requests << r;
            return answer;
        });
    }
    ~FileScript() { screens::setFileDialogHandler({}); }
    std::optional<screens::FileAnswer> answer;
    QList<screens::FileRequest> requests;
};

// What the preview showed, and the button pressed in it.
struct PreviewSeen {
    QString encoding;
    QStringList headings;
    QList<QStringList> rows;
    QString notes;
    bool importEnabled = false;
};

// Answers the preview once it is open: optionally another encoding, then
// 「取り込む」 (or 「キャンセル」).
void answerPreview(QObject *context, PreviewSeen &seen, bool accept, int encodingIndex = -1)
{
    QTimer::singleShot(0, context, [&seen, accept, encodingIndex] {
        auto *preview = qobject_cast<screens::ImportPreview *>(QApplication::activeModalWidget());
        if (!preview)
            qFatal("the preview is not open");
        if (encodingIndex >= 0)
            preview->encodingBox->setCurrentIndex(encodingIndex);
        seen.encoding = preview->encodingBox->currentText();
        for (int c = 0; c < preview->table->columnCount(); ++c)
            seen.headings << preview->table->horizontalHeaderItem(c)->text();
        for (int r = 0; r < preview->table->rowCount(); ++r) {
            QStringList row;
            for (int c = 0; c < preview->table->columnCount(); ++c)
                row << (preview->table->item(r, c) ? preview->table->item(r, c)->text() : QString());
            seen.rows << row;
        }
        seen.notes = preview->notes->text();
        seen.importEnabled = preview->importButton->isEnabled();
        click(accept ? preview->importButton : preview->cancelButton);
    });
}

// "CSV ファイルから取り込む(&I)..." on `screen` with `path` chosen in the
// dialog, and the preview answered.
void importThroughMenu(QObject *context, screens::DataScreen *screen, FileScript &files, const QString &path,
                       PreviewSeen &seen, bool accept = true)
{
    files.answer = screens::FileAnswer{path, 0};
    answerPreview(context, seen, accept);
    child<QAction>(screen, "mnucsvin")->trigger();
}

const QList<Book> threeBooks = {
    book({"3", "三四郎", "夏目漱石", "春陽堂", "1909", "文学", "書斎", "可", nullptr}),
    book({"1", "吾輩は猫である", "夏目漱石", "大倉書店", "1905", "文学", "書斎", "中", "猫"}),
    book({"2", "高瀬舟", "森鴎外", nullptr, "1916"}),
};

QByteArray csvLine(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &f : fields)
        quoted << u'"' + QString(f).replace(u'"', QStringLiteral("\"\"")) + u'"';
    return (quoted.join(u',') + QStringLiteral("\r\n")).toUtf8();
}

const QByteArray Heading = csvLine({u("蔵書番号"), u("書名"), u("著者名"), u("出版社"), u("出版年"), u("分類"),
                                    u("保管場所"), u("貸出"), u("キーワード")});

int backups(const AppDir &dir)
{
    return int(QDir(dir.path() + QStringLiteral("/backup")).entryList(QDir::Files).size());
}

} // namespace

// The CSV items of the file menu, driven as a user drives them.
class TestCsvScreens : public QObject {
    Q_OBJECT

    static void addScreens()
    {
        QTest::addColumn<QString>("choice");
        QTest::newRow("Main") << "新規登録";
        QTest::newRow("Main2") << "修正・削除";
        QTest::newRow("db") << "データ一覧";
    }

private slots:
    void cleanup() { closeScreens(); }

    // Every data screen writes every book by 蔵書番号, except the list,
    // which writes what it shows; the dialog starts in the application
    // directory and offers both encodings.
    void exportFromEachScreen_data() { addScreens(); }
    void exportFromEachScreen()
    {
        QFETCH(QString, choice);
        Opened<screens::DataScreen> o(threeBooks, choice);
        FileScript files;
        const QString path = o.dir.path() + QStringLiteral("/out.csv");
        files.answer = screens::FileAnswer{path, 0};
        child<QAction>(o.screen, "mnucsvout")->trigger();
        QCOMPARE(files.requests.size(), 1);
        QVERIFY(files.requests[0].save);
        QCOMPARE(files.requests[0].directory, o.dir.path());
        QCOMPARE(files.requests[0].proposedName, u("ブクレア.csv"));
        QCOMPARE(files.requests[0].filters.size(), 2);
        QVERIFY(files.requests[0].filters[1].contains(QStringLiteral("Shift_JIS")));
        const QByteArray expected =
            QByteArray(exporting::Bom) + Heading
            + csvLine({"1", u("吾輩は猫である"), u("夏目漱石"), u("大倉書店"), "1905", u("文学"), u("書斎"), u("中"),
                       u("猫")})
            + csvLine({"2", u("高瀬舟"), u("森鴎外"), "", "1916", "", "", "", ""})
            + csvLine({"3", u("三四郎"), u("夏目漱石"), u("春陽堂"), "1909", u("文学"), u("書斎"), u("可"), ""});
        QCOMPARE(readFile(path), expected);
        QCOMPARE(o.messages.shown.size(), 1);
        QCOMPARE(o.messages.shown[0].text, u("3 冊を書き出しました。\r\n") + path);
        QCOMPARE(backups(o.dir), 0); // reading makes no backup
    }

    void exportWritesTheListAsShown()
    {
        Opened<ListScreen> o(threeBooks);
        FileScript files;
        const QString path = o.dir.path() + QStringLiteral("/shown.csv");
        files.answer = screens::FileAnswer{path, 1};
        // The first field of each line after the heading.
        auto numbers = [&] {
            QStringList n;
            for (const QByteArray &line : readFile(path).split('\n').mid(1))
                n << QString::fromLatin1(line.left(line.indexOf(',')));
            return n.join(u' ');
        };
        click(o.screen->Command2); // 出版年, newest first
        child<QAction>(o.screen, "mnucsvout")->trigger();
        QCOMPARE(numbers(), QStringLiteral("\"2\" \"3\" \"1\" "));
        typeText(o.screen->Text1, u("夏目"));
        click(o.screen->Command12); // 著者名: the hits in the table's order
        child<QAction>(o.screen, "mnucsvout")->trigger();
        QCOMPARE(numbers(), QStringLiteral("\"3\" \"1\" "));
        QVERIFY(readFile(path).contains("\"3\",\"\x8E\x4F")); // 三 in code page 932
    }

    // A character Shift_JIS lacks: the user is told which book and field,
    // and may write UTF-8 instead; "No" writes nothing.
    void unencodableOffersUtf8_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void unencodableOffersUtf8()
    {
        QFETCH(bool, yes);
        Opened<EditScreen> o({book({"5", "𠮷野家の本"})});
        FileScript files;
        const QString path = o.dir.path() + QStringLiteral("/out.csv");
        files.answer = screens::FileAnswer{path, 1};
        o.messages.answer(yes ? QMessageBox::Yes : QMessageBox::No);
        child<QAction>(o.screen, "mnucsvout")->trigger();
        QVERIFY(o.messages.shown.size() >= 1);
        QVERIFY2(o.messages.shown[0].text.startsWith(u("蔵書番号 5 の本（1 冊目）の「書名」にある文字「𠮷」")),
                 qPrintable(o.messages.shown[0].text));
        QVERIFY(o.messages.shown[0].text.endsWith(u("UTF-8（BOM 付き）で書き出しますか？")));
        if (yes)
            QVERIFY(readFile(path).startsWith(QByteArray(exporting::Bom) + Heading + "\"5\",\"" + u("𠮷").toUtf8()));
        else
            QVERIFY(!QFile::exists(path));
    }

    // 「キャンセル」 in the progress window stops the export: the file
    // there stays, and nothing is reported.
    void cancelledExport()
    {
        QList<Book> books;
        for (int i = 0; i < 5000; ++i)
            books << book({QByteArray::number(i).constData(), "本"});
        Opened<ListScreen> o(books);
        FileScript files;
        const QString path = o.dir.path() + QStringLiteral("/out.csv");
        writeFile(path, "old");
        files.answer = screens::FileAnswer{path, 0};
        bool clicked = false;
        QTimer::singleShot(0, this, [&] {
            if (QWidget *progress = visibleWindow(QStringLiteral("csvExportProgress"))) {
                click(progress, "cancel");
                clicked = true;
            }
        });
        child<QAction>(o.screen, "mnucsvout")->trigger();
        QVERIFY(clicked);
        QCOMPARE(readFile(path), QByteArray("old"));
        QVERIFY(o.messages.shown.isEmpty());
    }

    // An Excel file in code page 932 with a column of its own: the preview
    // tells the encoding, the columns left out and shows the first books;
    // the books are added after the day's backup and the count follows.
    void importThroughPreview_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("caption"); // the caption afterwards; empty: not checked
        QTest::newRow("Main2") << "修正・削除" << u("ブクレア　修正・削除   全 5 件 ");
        QTest::newRow("db") << "データ一覧" << u("ブクレア　【一覧表示】   全 5 件 ");
        QTest::newRow("Main") << "新規登録" << QString();
    }
    void importThroughPreview()
    {
        QFETCH(QString, choice);
        QFETCH(QString, caption);
        Opened<screens::DataScreen> o(threeBooks.mid(0, 3), choice);
        const QString path = o.dir.path() + QStringLiteral("/excel.csv");
        QByteArray bytes;
        exporting::Cp932Encoder encoder;
        encoder.append(u("書名, 蔵書番号 ,メモ,貸出\r\n坊っちゃん,１０,読了,可\r\n\"草枕\r\n（再読）\",11,,\r\n"),
                       bytes);
        writeFile(path, bytes);
        FileScript files;
        PreviewSeen seen;
        importThroughMenu(this, o.screen, files, path, seen);
        QCOMPARE(files.requests.size(), 1);
        QVERIFY(!files.requests[0].save);
        QCOMPARE(files.requests[0].directory, o.dir.path());
        QCOMPARE(seen.encoding, u("Shift_JIS (CP932)（自動判定）"));
        QCOMPARE(seen.headings, QStringList({u("蔵書番号"), u("書名"), u("著者名"), u("出版社"), u("出版年"), u("分類"),
                                             u("保管場所"), u("貸出"), u("キーワード")}));
        QCOMPARE(seen.rows.size(), 2);
        QCOMPARE(seen.rows[0], QStringList({u("１０"), u("坊っちゃん"), "", "", "", "", "", u("可"), ""}));
        QVERIFY2(seen.notes.contains(u("取り込まない列: 「メモ」")), qPrintable(seen.notes));
        QVERIFY(seen.importEnabled);
        QCOMPARE(o.messages.shown.size(), 1);
        QCOMPARE(o.messages.shown[0].text, u("2 冊を取り込みました。"));
        QCOMPARE(o.dir.rows(QStringLiteral("蔵書番号 >= 10")),
                 QList<Book>({book({"10", "坊っちゃん", nullptr, nullptr, nullptr, nullptr, nullptr, "可"}),
                              book({"11", "草枕\r\n（再読）"})}));
        QCOMPARE(backups(o.dir), 1);
        if (!caption.isEmpty())
            QCOMPARE(o.screen->windowTitle(), caption);
    }

    // A file with bad lines: every line is listed with its reason, and
    // nothing is written, not even a backup. Cancelling the preview does
    // nothing either.
    void badFilesWriteNothing()
    {
        Opened<ListScreen> o(threeBooks);
        const QString path = o.dir.path() + QStringLiteral("/bad.csv");
        QByteArray bytes = Heading + csvLine({"x", u("a"), "", "", "", "", "", "", ""})
                           + csvLine({"4", u("b"), "", "", u("昭和"), "", "", u("貸出中"), ""});
        for (int i = 0; i < 30; ++i)
            bytes += "1,2\r\n";
        writeFile(path, bytes);
        FileScript files;
        PreviewSeen seen;
        importThroughMenu(this, o.screen, files, path, seen);
        QCOMPARE(o.messages.shown.size(), 1);
        const QStringList lines = o.messages.shown[0].text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.value(0), u("次の問題があるため取り込めません。何も取り込んでいません。"));
        QCOMPARE(lines.value(1), path);
        QCOMPARE(lines.value(3), u("2 行目: 蔵書番号「x」が整数ではありません"));
        QCOMPARE(lines.value(4), u("3 行目: 出版年「昭和」が整数ではありません"));
        QCOMPARE(lines.value(5), u("4 行目: 項目の数が 2 です（9 のはずです）"));
        QCOMPARE(lines.size(), 3 + 20 + 1);
        QCOMPARE(lines.last(), u("ほかに 12 行の問題があります。"));
        QCOMPARE(o.dir.count(), 3);
        QCOMPARE(backups(o.dir), 0);
        QCOMPARE(o.screen->windowTitle(), u("ブクレア　【一覧表示】   全 3 件 "));

        // Cancelled in the preview.
        writeFile(path, Heading + csvLine({"9", u("良い本"), "", "", "", "", "", "", ""}));
        o.messages.shown.clear();
        importThroughMenu(this, o.screen, files, path, seen, false);
        QVERIFY(o.messages.shown.isEmpty());
        QCOMPARE(o.dir.count(), 3);
        // A folder chosen as the file.
        files.answer = screens::FileAnswer{o.dir.path(), 0};
        child<QAction>(o.screen, "mnucsvin")->trigger();
        QCOMPARE(o.messages.shown.size(), 1);
        QVERIFY(o.messages.shown[0].text.startsWith(u("CSV ファイルを読めません。\n") + o.dir.path()));
        QCOMPARE(o.dir.count(), 3);
    }

    // Out through the list's menu, the collection emptied, in again through
    // the menu: the same rows.
    void roundTrip()
    {
        Opened<ListScreen> o(threeBooks
                             + QList<Book>{book({nullptr, "番号なし、\"引用\"", nullptr, nullptr, nullptr, nullptr,
                                                 "一行目\r\n二行目"})});
        FileScript files;
        const QString path = o.dir.path() + QStringLiteral("/all.csv");
        files.answer = screens::FileAnswer{path, 0};
        child<QAction>(o.screen, "mnucsvout")->trigger();
        const QList<Book> before = o.dir.rows(QStringLiteral("1 ORDER BY 蔵書番号, _rowid_ --"));
        o.dir.exec(QStringLiteral("DELETE FROM tabel"));
        PreviewSeen seen;
        importThroughMenu(this, o.screen, files, path, seen);
        QCOMPARE(seen.encoding, u("UTF-8（自動判定）"));
        QCOMPARE(o.dir.rows(), before);
        QCOMPARE(o.screen->windowTitle(), u("ブクレア　【一覧表示】   全 4 件 "));
    }
};

QTEST_MAIN(TestCsvScreens)
#include "test_csv_screens.moc"
