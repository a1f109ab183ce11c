#include "app/module1.h"
#include "screens/list/db.h"
#include "screens/list/grid.h"
#include "screens/menu/menu.h"
#include "store/datacontrol.h"
#include "support/testsupport.h"

#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace testsupport;

namespace {

// Three books in which every search keyword below also stands in another
// field of another book, so a button that searched the wrong field would
// list the wrong books.
const QList<Book> &threeBooks()
{
    static const QList<Book> books = {
        book({"101", "春の海", "山田花子", "青葉書房", "1987", "9 文学", "書斎 サイン本の棚", "可", "文庫 夏"}),
        book({"187", "夏の森と青葉", "佐藤健一", "朝凪出版", "2003", "2 歴史・伝記・地理", "居間", "中", "鈴木 寄贈"}),
        book({"303", "星の歴史", "鈴木一郎、中村明", "北斗社", "1995", "4 自然科学・医学", "納戸", "可", "サイン本 居間"}),
    };
    return books;
}

const QString designCaption = QStringLiteral("ブクレア　【一覧表示】");

QString caption(int count) { return designCaption + QStringLiteral("   全 %1 件 ").arg(count); }

// Opens the list from the start menu; the screen deletes itself when left.
db *openList(Menu &menu)
{
    menu.show();
    menu.Combo1->setCurrentText(QStringLiteral("データ一覧"));
    QTest::mouseClick(menu.Command1, Qt::LeftButton);
    return qobject_cast<db *>(visibleWindow(QStringLiteral("db")));
}

// One grid column (0 = 蔵書番号) as the user sees it, top to bottom.
QStringList shown(db *screen, int column = 0)
{
    QStringList out;
    QAbstractItemModel *m = screen->fg->model();
    for (int row = 0; row < m->rowCount(); ++row)
        out << m->index(row, column).data().toString();
    return out;
}

void click(db *screen, const char *button) { QTest::mouseClick(child<QPushButton>(screen, button), Qt::LeftButton); }

void search(db *screen, const QString &keyword, const char *button)
{
    QLineEdit *box = screen->Text1;
    box->clear();
    typeText(box, keyword);
    click(screen, button);
}

QList<int> pixelWidths(db *screen)
{
    QList<int> widths = {screen->fg->verticalHeader()->width()};
    for (int i = 0; i < 9; ++i)
        widths << screen->fg->horizontalHeader()->sectionSize(i);
    return widths;
}

// 150, 900, 3000, 1200, 1400, 650, 2400, 1000, 450, 1300 twips.
const QList<int> designWidths = {10, 60, 200, 80, 93, 43, 160, 67, 30, 87};

} // namespace

// The list screen: what it shows on opening, the nine field searches, the
// four sorts, the grid, and the ways of leaving it.
class TestList : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *screen = qobject_cast<db *>(w))
                screen->unload();
        }
        settle();
        Module1::lastSearch().clear();
    }

    void opensWithCountAndOrder()
    {
        AppDir dir;
        dir.insert({book({"10", "十"}), book({"9", "九"}), book({"100", "百"}), book({"2", "二"}), book({nullptr, "番号なし"})});
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        QVERIFY(screen);
        QCOMPARE(screen->windowTitle(), caption(5));
        QCOMPARE(screen->Text2->text(), QStringLiteral("5"));
        QVERIFY(!screen->Text2->isVisible());
        QVERIFY(!screen->Data1->isVisible());
        // Ascending by number as numbers, a book without a number first.
        QCOMPARE(shown(screen), QStringList({"", "2", "9", "10", "100"}));
        QCOMPARE(shown(screen, 1), QStringList({"番号なし", "二", "九", "十", "百"}));
        QCOMPARE(screen->Data1->recordSource(), QStringLiteral("select * from tabel order by 蔵書番号 asc;"));
        QVERIFY(messages.shown.isEmpty());
        QVERIFY(QTest::qWaitForWindowActive(screen));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(screen->Text1));
        QVERIFY(screen->Text1->testAttribute(Qt::WA_InputMethodEnabled));
    }

    void looksAsDesigned()
    {
        AppDir dir;
        dir.insert({book({"1", "本"})});
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        QCOMPARE(screen->client()->size(), QSize(794, 520));
        QCOMPARE(screen->fg->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(pixelWidths(screen), designWidths);
        // The heading row names the fields; the fixed column stays empty.
        QStringList headings;
        for (int i = 0; i < 9; ++i)
            headings << screen->fg->model()->headerData(i, Qt::Horizontal).toString();
        QCOMPARE(headings, store::fieldNames());
        QCOMPARE(screen->fg->model()->headerData(0, Qt::Vertical).toString(), QString());
        QCOMPARE(screen->fg->editTriggers(), QAbstractItemView::NoEditTriggers);
        const int rowHeight = screen->fg->rowHeight(0);
        QVERIFY2(rowHeight >= 15 && rowHeight <= 18, qPrintable(QString::number(rowHeight)));
        // No default button: Enter starts nothing.
        for (QPushButton *b : screen->findChildren<QPushButton *>())
            QVERIFY(!b->isDefault() && !b->autoDefault());

        // Tab walks the controls in the form's order and comes round again.
        QVERIFY(QTest::qWaitForWindowActive(screen));
        const QStringList order = {"Command14", "Command12", "Command13", "Command6", "Command8", "Command10",
                                   "Command7", "Command9", "Command11", "Command4", "fg", "Command2",
                                   "Command3", "Command5", "Command15", "Command1", "Text1"};
        QStringList walked;
        for (qsizetype i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, order);
    }

    void screenshotWithJapaneseData()
    {
        if (!qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS"))
            QSKIP("set BUKUREA_SCREENSHOTS to a directory to save the screenshot");
        AppDir dir;
        QList<Book> books = threeBooks();
        books << book({"4", "ＡＢＣ殺人事件", "アガサ・クリスティー", "早川書房", "2003", "9 文学", "二階廊下 本棚B-2", "中", "推理 文庫 再読"})
              << book({"5", "吾輩は猫である", "夏目漱石", "岩波書店", "1990", "9 文学", "書斎 本棚A-1", "可", "名作 猫"})
              << book({"6", "図説 日本の城", "佐々木正夫 編", "大和出版会", "1978", "2 歴史・伝記・地理", "居間 箱-3", nullptr, "図版多数 城 江戸"})
              << book({"7", "O'Brienの海", "ティム・O'Brien", "銀河書房", "2011", "9 文学", "納戸", "可", nullptr})
              << book({"8", "やさしい天文学入門 ― 星と宇宙をめぐって", "高橋直樹", "光陽堂", "1969", "4 自然科学・医学", "寝室 棚-1", "可", "宇宙 星 初版 サイン本"});
        for (int i = 9; i <= 60; ++i)
            books << book({QByteArray::number(i * 7).constData(), "海の記憶と手紙", "渡辺幸子", "青葉書房", "1985", "9 文学", "書斎", i % 3 ? "可" : "中", "文庫"});
        dir.insert(books);
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        screen->Text1->setText(QStringLiteral("の"));
        settle();
        const QString out = qEnvironmentVariable("BUKUREA_SCREENSHOTS");
        QVERIFY(screen->grab().save(out + QStringLiteral("/list.png")));
        click(screen, "Command2");
        screen->fg->selectionModel()->select(QItemSelection(screen->fg->model()->index(2, 1), screen->fg->model()->index(4, 3)),
                                             QItemSelectionModel::ClearAndSelect);
        QVERIFY(screen->grab().save(out + QStringLiteral("/list_by_year.png")));
    }

    void eachButtonSearchesItsField_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("書名") << "Command14" << "書名" << "夏" << QStringList({"187"});
        QTest::newRow("著者名") << "Command12" << "著者名" << "鈴木" << QStringList({"303"});
        QTest::newRow("出版社") << "Command13" << "出版社" << "青葉" << QStringList({"101"});
        QTest::newRow("出版年") << "Command6" << "出版年" << "87" << QStringList({"101"});
        QTest::newRow("分類") << "Command8" << "分類" << "歴史" << QStringList({"187"});
        QTest::newRow("蔵書番号") << "Command10" << "蔵書番号" << "3" << QStringList({"303"});
        QTest::newRow("設定キー") << "Command7" << "キーワード" << "サイン" << QStringList({"303"});
        QTest::newRow("貸出の状態 中") << "Command9" << "貸出" << "中" << QStringList({"187"});
        QTest::newRow("貸出の状態 可") << "Command9" << "貸出" << "可" << QStringList({"101", "303"});
        QTest::newRow("保管場所") << "Command11" << "保管場所" << "居間" << QStringList({"187"});
    }
    void eachButtonSearchesItsField()
    {
        QFETCH(QString, button);
        QFETCH(QString, field);
        QFETCH(QString, keyword);
        QFETCH(QStringList, numbers);
        AppDir dir;
        dir.insert(threeBooks());
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        search(screen, keyword, button.toLatin1().constData());
        const QString statement = QStringLiteral("select * from tabel where %1 like '*%2*';").arg(field, keyword);
        QCOMPARE(Module1::lastSearch(), statement);
        QCOMPARE(screen->Data1->recordSource(), statement);
        QCOMPARE(shown(screen), numbers);
        QVERIFY(messages.shown.isEmpty());
        // The keyword, the caption and the count stay.
        QCOMPARE(screen->Text1->text(), keyword);
        QCOMPARE(screen->windowTitle(), caption(3));
        QCOMPARE(screen->Text2->text(), QStringLiteral("3"));
    }

    void keywordPatterns_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("substring") << "の手" << QStringList({"猫の手帖", "犬の手帖"});
        QTest::newRow("*") << "猫*帖" << QStringList({"猫の手帖"});
        QTest::newRow("?") << "?の" << QStringList({"猫の手帖", "犬の手帖", "O'Brienの海"});
        QTest::newRow("#") << "A#B" << QStringList({"A1B", "A2B"});
        QTest::newRow("[class]") << "A[1X]B" << QStringList({"A1B", "AXB"});
        QTest::newRow("[!class]") << "A[!1]B" << QStringList({"A2B", "AXB"});
        QTest::newRow("[[] literal") << "[[]" << QStringList({"[注]"});
        QTest::newRow("case") << "a1b" << QStringList({"A1B"});
        QTest::newRow("width") << "Ａ１Ｂ" << QStringList({"A1B"});
        QTest::newRow("apostrophe") << "O'Brien" << QStringList({"O'Brienの海"});
        QTest::newRow("lone apostrophe") << "'" << QStringList({"O'Brienの海"});
        QTest::newRow("statement text") << "*'; drop table tabel; --" << QStringList();
        // Two asterisks: every book with a title, never the one without.
        QTest::newRow("empty") << "" << QStringList({"猫の手帖", "犬の手帖", "手帖", "A1B", "A2B", "AXB", "[注]", "O'Brienの海"});
    }
    void keywordPatterns()
    {
        QFETCH(QString, keyword);
        QFETCH(QStringList, titles);
        AppDir dir;
        QList<Book> books;
        int n = 0;
        for (const char *t : {"猫の手帖", "犬の手帖", "手帖", "A1B", "A2B", "AXB", "[注]", "O'Brienの海"})
            books << book({QByteArray::number(++n).constData(), t});
        books << book({"9", nullptr, "題名のない本"});
        dir.insert(books);
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        search(screen, keyword, "Command14");
        QCOMPARE(shown(screen, 1), titles);
        // No hit is the only message; a keyword never breaks the statement.
        QCOMPARE(messages.shown.size(), titles.isEmpty() ? 1 : 0);
        QCOMPARE(Module1::lastSearch(), QStringLiteral("select * from tabel where 書名 like '*%1*';")
                                            .arg(QString(keyword).replace(u'\'', QStringLiteral("''"))));
        QCOMPARE(dir.count(), 9);
    }

    void noHitThenSortListsEverything_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("numbers");
        // 303 and 55 share 1995: ties keep the table's order. Book 7 has no
        // year: first ascending, last descending.
        QTest::newRow("蔵書番号 降順") << "Command15" << QStringList({"303", "187", "101", "55", "7"});
        QTest::newRow("出版年 降順") << "Command2" << QStringList({"187", "303", "55", "101", "7"});
        QTest::newRow("出版年 昇順") << "Command3" << QStringList({"7", "101", "303", "55", "187"});
    }
    void noHitThenSortListsEverything()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, numbers);
        AppDir dir;
        dir.insert(threeBooks());
        dir.insert({book({"55", "追加", nullptr, nullptr, "1995"})});
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        search(screen, QStringLiteral("存在しない"), "Command14");
        QCOMPARE(messages.shown.size(), 1);
        const common::Message &m = messages.shown[0];
        QCOMPARE(m.text, QStringLiteral("データが見つかりませんでした。"));
        QCOMPARE(m.title, QStringLiteral("検索失敗"));
        QCOMPARE(m.icon, QMessageBox::Warning);
        QCOMPARE(m.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(m.parent, static_cast<QWidget *>(screen));
        // Only the heading row is left; everything else stays as it was.
        QCOMPARE(screen->fg->model()->rowCount(), 0);
        QCOMPARE(screen->fg->model()->columnCount(), 9);
        QVERIFY(screen->fg->horizontalHeader()->isVisible());
        QCOMPARE(screen->Data1->recordSource(), Module1::lastSearch());
        QCOMPARE(screen->windowTitle(), caption(4));
        QCOMPARE(screen->Text1->text(), QStringLiteral("存在しない"));
        // A book added behind the screen's back shows up in the sorted list,
        // but the count and caption stay until the reset.
        dir.insert({book({"7", "後から"})});
        click(screen, button.toLatin1().constData());
        QCOMPARE(shown(screen), numbers);
        QCOMPARE(screen->windowTitle(), caption(4));
        QCOMPARE(screen->Text2->text(), QStringLiteral("4"));
        QCOMPARE(Module1::lastSearch(), QStringLiteral("select * from tabel where 書名 like '*存在しない*';"));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(pixelWidths(screen), designWidths);
        // "昇順" under "蔵書番号で並べ替え" recounts and lists by number.
        click(screen, "Command5");
        QCOMPARE(screen->windowTitle(), caption(5));
        QCOMPARE(screen->Text2->text(), QStringLiteral("5"));
        QCOMPARE(shown(screen), QStringList({"7", "55", "101", "187", "303"}));
        QCOMPARE(pixelWidths(screen), designWidths);
        QCOMPARE(messages.shown.size(), 1);
    }

    void columnWidthsSurviveSearches()
    {
        AppDir dir;
        dir.insert(threeBooks());
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        QCOMPARE(screen->fg->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        search(screen, QStringLiteral("の"), "Command14");
        QCOMPARE(shown(screen).size(), 3);
        QCOMPARE(pixelWidths(screen), designWidths);
        search(screen, QStringLiteral("ない"), "Command14");
        QCOMPARE(pixelWidths(screen), designWidths);
        click(screen, "Command2");
        QCOMPARE(pixelWidths(screen), designWidths);
    }

    void enterAndEscapeStartNothing()
    {
        AppDir dir;
        dir.insert(threeBooks());
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        QVERIFY(QTest::qWaitForWindowActive(screen));
        typeText(screen->Text1, QStringLiteral("夏"));
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(screen->Text1, key);
        QVERIFY(Module1::lastSearch().isEmpty());
        QCOMPARE(shown(screen).size(), 3);
        QVERIFY(screen->isVisible());
        QVERIFY(messages.shown.isEmpty());
        // The keyboard reaches a button by Tab, and Space presses it.
        QTest::keyClick(screen->Text1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(screen->Command14));
        QTest::keyClick(screen->Command14, Qt::Key_Space);
        QCOMPARE(shown(screen), QStringList({"187"}));
    }

    void emptyTableOpensEmpty()
    {
        AppDir dir;
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        QVERIFY(screen);
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(screen->windowTitle(), caption(0));
        QCOMPARE(screen->Text2->text(), QStringLiteral("0"));
        QCOMPARE(screen->fg->model()->rowCount(), 0);
        QCOMPARE(pixelWidths(screen), designWidths);
        click(screen, "Command5");
        click(screen, "Command15");
        QVERIFY(messages.shown.isEmpty());
        search(screen, QString(), "Command14");
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(screen->windowTitle(), caption(0));
    }

    void storeFailureIsReportedAndTheScreenStays()
    {
        AppDir dir;
        dir.insert(threeBooks());
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        // Another program takes the book table away while the list is open:
        // the reset reports it and the list on screen stays.
        dir.exec(QStringLiteral("ALTER TABLE tabel RENAME TO gone"));
        click(screen, "Command5");
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].icon, QMessageBox::Critical);
        QVERIFY(screen->isVisible());
        QCOMPARE(screen->windowTitle(), caption(3));
        QCOMPARE(shown(screen).size(), 3);
    }

    void largeListKnowsItsSizeAtOnce()
    {
        AppDir dir;
        QList<Book> books;
        for (int i = 20000; i >= 1; --i)
            books << book({QByteArray::number(i).constData(), "本"});
        dir.insert(books);
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        QCOMPARE(screen->windowTitle(), caption(20000));
        QCOMPARE(screen->fg->model()->rowCount(), 20000);
        QScrollBar *bar = screen->fg->verticalScrollBar();
        QVERIFY(bar->maximum() > 19900);
        bar->setValue(bar->maximum());
        QCOMPARE(screen->fg->model()->index(19999, 0).data().toString(), QStringLiteral("20000"));
        QVERIFY(!screen->grab().isNull());
    }

    void copiesSelectedCells()
    {
        AppDir dir;
        dir.insert(threeBooks());
        MessageScript messages;
        Menu menu;
        db *screen = openList(menu);
        QVERIFY(QTest::qWaitForWindowActive(screen));
        Grid *fg = screen->fg;
        QAbstractItemModel *m = fg->model();
        auto centre = [fg, m](int row, int column) { return fg->visualRect(m->index(row, column)).center(); };
        // Drag-free selection as a user makes it: click, then shift-click.
        QTest::mouseClick(fg->viewport(), Qt::LeftButton, {}, centre(0, 0));
        QTest::mouseClick(fg->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(1, 2));
        QTest::keyClick(fg, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("101\t春の海\t山田花子\n187\t夏の森と青葉\t佐藤健一"));
        // Cells picked one by one keep their places.
        QTest::mouseClick(fg->viewport(), Qt::LeftButton, {}, centre(0, 0));
        QTest::mouseClick(fg->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(2, 7));
        QTest::keyClick(fg, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("101\t\n\t可"));
        // Select all copies the whole list, row by row.
        QTest::keyClick(fg, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(fg, Qt::Key_C, Qt::ControlModifier);
        const QStringList lines = QApplication::clipboard()->text().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[2], QStringLiteral("303\t星の歴史\t鈴木一郎、中村明\t北斗社\t1995\t4 自然科学・医学\t納戸\t可\tサイン本 居間"));
    }

    void leaving_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("menuShown");
        QTest::newRow("メニュー") << "button" << true;
        QTest::newRow("close box") << "close" << true;
        QTest::newRow("exit command") << "exit" << false;
    }
    void leaving()
    {
        QFETCH(QString, how);
        QFETCH(bool, menuShown);
        AppDir dir;
        dir.insert(threeBooks());
        MessageScript messages;
        Menu menu;
        QSignalSpy menuEnded(&menu, &common::Form::unloaded);
        db *screen = openList(menu);
        QSignalSpy left(screen, &common::Form::unloaded);
        if (how == QLatin1String("button"))
            click(screen, "Command1");
        else if (how == QLatin1String("close"))
            screen->close();
        else
            screen->mnuend->trigger();
        settle();
        QCOMPARE(left.count(), 1);
        QCOMPARE(liveWindows(QStringLiteral("db")), 0);
        QCOMPARE(menu.isVisible(), menuShown);
        QCOMPARE(menuEnded.count(), menuShown ? 0 : 1);
        QVERIFY(messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestList)
#include "test_list.moc"
