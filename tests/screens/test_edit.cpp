#include "app/fonts.h"
#include "app/navigation.h"
#include "screens/edit/main2.h"
#include "screens/menu/menu.h"
#include "screens/record_panel/recordpanel.h"
#include "store/datacontrol.h"
#include "support/testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace testsupport;

namespace {

const QString fixTitle = QStringLiteral("データ修正");
const QString fixText = QStringLiteral("このデータを修正します。\r\nよろしいですか？");
const QString deleteTitle = QStringLiteral("データ削除");
const QString deleteText = QStringLiteral("このデータを削除します。\r\nよろしいですか？");

QString caption(int count) { return QStringLiteral("ブクレア　修正・削除   全 %1 件 ").arg(count); }

// Books numbered as given, titled "本<number>", lending state "可".
QList<Book> numbered(const QStringList &numbers)
{
    QList<Book> books;
    for (const QString &n : numbers) {
        const QByteArray no = n.toUtf8(), title = ("本" + n).toUtf8();
        books << book({no.constData(), title.constData(), "著者", "出版社", "2001", "9 文学", "棚", "可", "語"});
    }
    return books;
}

// Opens the screen the way the start menu does.
Main2 *openEdit()
{
    app::showEdit();
    return qobject_cast<Main2 *>(visibleWindow(QStringLiteral("Main2")));
}

// Types text as the Japanese input method hands it over: a committed string.
void type(QWidget *box, const QString &text)
{
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(box, &commit);
}

void click(QAbstractButton *b) { QTest::mouseClick(b, Qt::LeftButton); }
void move(Main2 *s, const char *button) { click(child<QToolButton>(s->Data1, button)); }
QString title(Main2 *s) { return s->panel->TitleBox->text(); }
QColor indicator(Main2 *s) { return ui::backgroundOf(s->panel->Label4); }

void search(Main2 *s, const QString &number)
{
    s->Text5->setText(number);
    click(s->Command5);
}

// Every title reachable with the data control, first to last.
QStringList reachable(Main2 *s)
{
    QStringList titles;
    move(s, "first");
    for (int i = 0; i < 100; ++i) {
        titles << title(s);
        const QString before = s->Data1->caption();
        move(s, "next");
        if (s->Data1->caption() == before)
            break;
    }
    return titles;
}

} // namespace

// The edit and delete screen driven through its widgets, the message boxes
// answered by script, the file checked beside it.
class TestEdit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { app::installFontSubstitutions(); }
    void cleanup()
    {
        for (const char *name : {"Main2", "db"}) {
            if (QWidget *w = visibleWindow(QLatin1String(name)))
                w->close();
        }
        settle();
    }

    void opensOnTheFirstBook()
    {
        AppDir dir;
        dir.insert({book({"7", "はじめての蔵書目録", "山田太郎", "文芸社", "1998", "0 年鑑・百科事典・図書館", "居間の本棚", "中",
                          "目録 整理"}),
                    book({"8", "二冊目"}), book({"9", "三冊目"})});
        Menu menu;
        Main2 *s = openEdit();
        QVERIFY(s);
        QCOMPARE(s->windowTitle(), caption(3));
        QCOMPARE(s->Text7->text(), QStringLiteral("3"));
        QVERIFY(s->Text7->isHidden() && !s->Text7->isEnabled());
        QCOMPARE(s->Data1->caption(), QStringLiteral("1"));
        QVERIFY(s->Data1->isVisible() && s->Data1->isEnabled());
        QCOMPARE(title(s), QStringLiteral("はじめての蔵書目録"));
        QCOMPARE(s->panel->Combo1->currentText(), QStringLiteral("0 年鑑・百科事典・図書館"));
        QCOMPARE(indicator(s), RecordPanel::lentOutColor());

        // The window as designed.
        QCOMPARE(s->client()->size(), QSize(593, 330));
        QVERIFY(!s->windowIcon().isNull());
        QVERIFY(s->findChild<QAction *>(QStringLiteral("nmuhlo")));
        QCOMPARE(s->panel->TitleBox->objectName(), QStringLiteral("Text4"));
        // The search buttons' colour is red 192, green 192, blue 255 (not
        // the other way round), and the box of the group lies behind it.
        QCOMPARE(ui::backgroundOf(s->Command5), QColor(192, 192, 255));
        QCOMPARE(ui::backgroundOf(s->Command6), QColor(192, 192, 255));
        QCOMPARE(s->Frame4->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).first(), s->Frame11);

        // The title box has the focus; Tab walks the designed order around.
        QVERIFY(QTest::qWaitForWindowActive(s));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(s->panel->TitleBox));
        QStringList order;
        for (int i = 0; i < 17; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, QStringList({"Text8", "Text9", "Text3", "Combo1", "Text6", "Text2", "Command3", "Command4",
                                     "Text1", "Text5", "Command5", "Command6", "Command2", "Command1", "cmdrep",
                                     "cmdadd", "Text4"}));

        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS"))
            s->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/edit.png"));
    }

    // The position display and the indicator follow every move; a book
    // without a lending value keeps the colour of the one before.
    void navigationShowsPositionAndLendingState()
    {
        AppDir dir;
        dir.insert({book({"1", "A", nullptr, nullptr, nullptr, nullptr, nullptr, "可"}),
                    book({"2", "B", nullptr, nullptr, nullptr, nullptr, nullptr, "中"}),
                    book({"3", "C"}),
                    book({"4", "D", nullptr, nullptr, nullptr, nullptr, nullptr, "可"}),
                    book({"5", "E", nullptr, nullptr, nullptr, nullptr, nullptr, "貸"})});
        Menu menu;
        Main2 *s = openEdit();
        const QColor avail = RecordPanel::availableColor(), lent = RecordPanel::lentOutColor();
        const QList<std::pair<QString, QColor>> expected = {
            {"A", avail}, {"B", lent}, {"C", lent}, {"D", avail}, {"E", avail}};
        for (int i = 0; i < expected.size(); ++i) {
            if (i > 0)
                move(s, "next");
            QCOMPARE(title(s), expected[i].first);
            QCOMPARE(s->Data1->caption(), QString::number(i + 1));
            QCOMPARE(indicator(s), expected[i].second);
        }
        move(s, "previous");
        move(s, "previous");
        move(s, "previous"); // B
        move(s, "last");
        QCOMPARE(s->Data1->caption(), QStringLiteral("5"));
        QCOMPARE(indicator(s), lent);
    }

    void correctionIsWrittenOnlyWhenConfirmed_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void correctionIsWrittenOnlyWhenConfirmed()
    {
        QFETCH(bool, yes);
        AppDir dir;
        dir.insert(numbered({"1", "2"}));
        const QList<Book> before = dir.rows();
        Menu menu;
        MessageScript messages;
        messages.answer(yes ? QMessageBox::Yes : QMessageBox::No);
        Main2 *s = openEdit();
        s->panel->TitleBox->selectAll();
        type(s->panel->TitleBox, QStringLiteral("新しい書名"));
        s->panel->Text3->clear(); // an emptied box is stored as NULL
        click(s->panel->Command4);
        click(s->Command2);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].icon, QMessageBox::Question);
        QCOMPARE(messages.shown[0].title, fixTitle);
        QCOMPARE(messages.shown[0].text, fixText);
        QCOMPARE(messages.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        // Nothing else changes, and the edits stay in the panel either way.
        QCOMPARE(title(s), QStringLiteral("新しい書名"));
        QCOMPARE(s->windowTitle(), caption(2));
        QCOMPARE(s->Data1->caption(), QStringLiteral("1"));

        Book expected = before[0];
        expected[1] = QStringLiteral("新しい書名");
        expected[4] = std::nullopt;
        expected[7] = QStringLiteral("中");
        QCOMPARE(dir.rows(), QList<Book>({yes ? expected : before[0], before[1]}));

        click(s->cmdadd);
        settle();
        s = openEdit();
        QCOMPARE(title(s), yes ? QStringLiteral("新しい書名") : QStringLiteral("本1"));
        QCOMPARE(indicator(s), yes ? RecordPanel::lentOutColor() : RecordPanel::availableColor());
    }

    void deletion_data()
    {
        QTest::addColumn<int>("books");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("3 yes") << 3 << true << true << QStringList({"本2", "本3"}) << "本3" << true;
        QTest::newRow("3 no") << 3 << false << true << QStringList({"本1", "本2", "本3"}) << "本1" << true;
        QTest::newRow("2 yes") << 2 << true << true << QStringList({"本2"}) << "本2" << false;
        QTest::newRow("1") << 1 << true << false << QStringList({"本1"}) << "本1" << false;
    }
    void deletion()
    {
        QFETCH(int, books);
        QFETCH(bool, yes);
        QFETCH(bool, asked);
        QFETCH(QStringList, left);
        QFETCH(QString, shown);
        QFETCH(bool, enabled);
        AppDir dir;
        dir.insert(numbered(QStringList({"1", "2", "3"}).mid(0, books)));
        Menu menu;
        MessageScript messages;
        messages.answer(yes ? QMessageBox::Yes : QMessageBox::No);
        Main2 *s = openEdit();
        click(s->Command1);
        QCOMPARE(messages.shown.size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(messages.shown[0].icon, QMessageBox::Question);
            QCOMPARE(messages.shown[0].title, deleteTitle);
            QCOMPARE(messages.shown[0].text, deleteText);
            QCOMPARE(messages.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        }
        QStringList titles;
        for (const Book &b : dir.rows())
            titles << *b[1];
        QCOMPARE(titles, left);
        QCOMPARE(title(s), shown);
        QCOMPARE(s->Data1->caption(), QString::number(left.indexOf(shown) + 1));
        QCOMPARE(s->windowTitle(), caption(left.size()));
        QCOMPARE(s->Text7->text(), QString::number(left.size()));
        QCOMPARE(s->Command1->isEnabled(), enabled);
        // A disabled button stays so for the rest of the screen's life.
        if (!enabled) {
            search(s, QString());
            QVERIFY(!s->Command1->isEnabled());
        }
    }

    void numberSearch()
    {
        AppDir dir;
        dir.insert(numbered({"2", "10", "1", "3", "21"}) + QList<Book>({book({nullptr, "番号なし"})}));
        Menu menu;
        MessageScript messages;
        Main2 *s = openEdit();

        // A substring of the number, hits in the table's order.
        search(s, QStringLiteral("1"));
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(reachable(s), QStringList({"本10", "本1", "本21"}));
        QCOMPARE(s->Data1->caption(), QStringLiteral("3"));
        QCOMPARE(s->windowTitle(), caption(6));
        QCOMPARE(s->Text5->text(), QStringLiteral("1"));

        // No hit: the notice, and the empty result stays open.
        search(s, QStringLiteral("99"));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].icon, QMessageBox::Warning);
        QCOMPARE(messages.shown[0].title, QStringLiteral("検索失敗"));
        QCOMPARE(messages.shown[0].text, QStringLiteral("データが見つかりませんでした。"));
        QCOMPARE(messages.shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(title(s), QString());
        QCOMPARE(s->Data1->caption(), QString());
        QCOMPARE(s->windowTitle(), caption(6));
        QCOMPARE(s->Text7->text(), QStringLiteral("6"));
        QCOMPARE(s->Text5->text(), QStringLiteral("99"));

        // The reset reaches every book that has a number.
        click(s->Command6);
        QCOMPARE(s->Text5->text(), QString());
        QCOMPARE(reachable(s), QStringList({"本2", "本10", "本1", "本3", "本21"}));
        QCOMPARE(s->windowTitle(), caption(6));
        QCOMPARE(messages.shown.size(), 1);
    }

    // The hits are shown field by field, empty fields as empty text.
    void hitFillsThePanel()
    {
        AppDir dir;
        dir.insert({book({"1", "一"}), book({"42", "四十二", "著", "社", "1999", "手で入れた分類", "二階", "中", "鍵"})});
        Menu menu;
        Main2 *s = openEdit();
        search(s, QStringLiteral("4"));
        RecordPanel *p = s->panel;
        QCOMPARE(QStringList({p->Text6->text(), p->TitleBox->text(), p->Text8->text(), p->Text9->text(),
                              p->Text3->text(), p->Combo1->currentText(), p->Text1->text(), p->Label5->text(),
                              p->Text2->text()}),
                 QStringList({"42", "四十二", "著", "社", "1999", "手で入れた分類", "二階", "中", "鍵"}));
        QCOMPARE(indicator(s), RecordPanel::lentOutColor());
        search(s, QStringLiteral("1"));
        QCOMPARE(p->Text8->text(), QString());
        QCOMPARE(p->Label5->text(), QString());
        QCOMPARE(indicator(s), RecordPanel::lentOutColor());
    }

    // A deletion inside a search result runs the search again and shows
    // its last book; the count of the whole table drops.
    void deletionInsideSearchResult()
    {
        AppDir dir;
        dir.insert(numbered({"1", "2", "10", "21", "3"}));
        Menu menu;
        MessageScript messages;
        Main2 *s = openEdit();
        search(s, QStringLiteral("1"));
        move(s, "next"); // 本10
        messages.answer(QMessageBox::Yes);
        click(s->Command1);
        QCOMPARE(dir.count(), 4);
        QCOMPARE(dir.rows(QStringLiteral("蔵書番号 = 10")).size(), 0);
        QCOMPARE(title(s), QStringLiteral("本21"));
        QCOMPARE(s->Data1->caption(), QStringLiteral("2"));
        QCOMPARE(reachable(s), QStringList({"本1", "本21"}));
        QCOMPARE(s->windowTitle(), caption(4));
        QCOMPARE(s->Text7->text(), QStringLiteral("4"));
    }

    void apostropheIsSearchedAsTyped()
    {
        AppDir dir;
        dir.insert(numbered({"1", "O'12", "12"}));
        Menu menu;
        MessageScript messages;
        Main2 *s = openEdit();
        search(s, QStringLiteral("'1"));
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(reachable(s), QStringList({"本O'12"}));
        search(s, QStringLiteral("x' or 1=1 or '"));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].title, QStringLiteral("検索失敗"));
        QCOMPARE(dir.count(), 3);
    }

    // Without a current book "修正" and "削除" write nothing and ask
    // nothing; "メニュー" and the close box still lead to the start menu.
    void withoutCurrentBook_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("byCloseBox");
        for (bool box : {false, true}) {
            const char *leave = box ? " close box" : " menu";
            QTest::newRow(QByteArray("empty result") + leave) << "empty result" << box;
            QTest::newRow(QByteArray("only hit deleted") + leave) << "only hit deleted" << box;
            QTest::newRow(QByteArray("empty table") + leave) << "empty table" << box;
        }
    }
    void withoutCurrentBook()
    {
        QFETCH(QString, how);
        QFETCH(bool, byCloseBox);
        AppDir dir;
        if (how != QStringLiteral("empty table"))
            dir.insert(numbered({"1", "2", "3"}));
        Menu menu;
        MessageScript messages;
        Main2 *s = openEdit();
        QVERIFY(s);
        int count = dir.count();
        if (how == QStringLiteral("empty result")) {
            search(s, QStringLiteral("9"));
        } else if (how == QStringLiteral("only hit deleted")) {
            search(s, QStringLiteral("2"));
            messages.answer(QMessageBox::Yes);
            click(s->Command1);
            --count;
            QCOMPARE(dir.count(), 2);
        }
        const int boxes = int(messages.shown.size());
        QCOMPARE(s->Data1->caption(), QString());
        QCOMPARE(s->windowTitle(), caption(count));

        s->panel->TitleBox->setText(QStringLiteral("書き込まれない"));
        click(s->panel->Command4);
        const QList<Book> before = dir.rows();
        click(s->Command2);
        click(s->Command1);
        QCOMPARE(dir.rows(), before);
        QCOMPARE(messages.shown.size(), boxes);
        QCOMPARE(s->windowTitle(), caption(count));
        QVERIFY(s->Command1->isEnabled());

        if (byCloseBox)
            s->close();
        else
            click(s->cmdadd);
        settle();
        QVERIFY(menu.isVisible());
        QCOMPARE(liveWindows(QStringLiteral("Main2")), 0);
        QCOMPARE(dir.rows(), before);
        QCOMPARE(messages.shown.size(), boxes);
    }

    // Whatever is typed into the panel stays out of the file unless "修正"
    // is confirmed: not on moving, not on any way of leaving.
    void unconfirmedEditsAreNeverWritten_data()
    {
        QTest::addColumn<QString>("action");
        for (const char *a : {"move", "menu", "close box", "list"})
            QTest::newRow(a) << QString::fromLatin1(a);
    }
    void unconfirmedEditsAreNeverWritten()
    {
        QFETCH(QString, action);
        AppDir dir;
        dir.insert(numbered({"1", "2"}));
        const QList<Book> before = dir.rows();
        Menu menu;
        MessageScript messages;
        Main2 *s = openEdit();
        search(s, QString()); // in a search result as well as in the table
        s->panel->TitleBox->setText(QStringLiteral("書き込まれない"));
        s->panel->Combo1->setEditText(QStringLiteral("8 言語"));
        click(s->panel->Command4);
        if (action == QStringLiteral("move")) {
            move(s, "next");
            move(s, "first");
            QCOMPARE(title(s), QStringLiteral("本1"));
        } else if (action == QStringLiteral("menu")) {
            click(s->cmdadd);
        } else if (action == QStringLiteral("close box")) {
            s->close();
        } else {
            click(s->cmdrep);
        }
        settle();
        QCOMPARE(dir.rows(), before);
        QVERIFY(messages.shown.isEmpty());
        if (action == QStringLiteral("list")) {
            // Handed over to the list screen; the start menu stays hidden.
            QVERIFY(visibleWindow(QStringLiteral("db")));
            QVERIFY(!menu.isVisible());
            QCOMPARE(liveWindows(QStringLiteral("Main2")), 0);
        } else if (action != QStringLiteral("move")) {
            QVERIFY(menu.isVisible());
            QCOMPARE(liveWindows(QStringLiteral("Main2")), 0);
        }
    }

    // Leaving after a search and opening again starts from the whole table,
    // counted anew.
    void reopeningStartsAfresh()
    {
        AppDir dir;
        dir.insert(numbered({"1", "2", "3"}));
        Menu menu;
        MessageScript messages;
        Main2 *s = openEdit();
        search(s, QStringLiteral("3"));
        click(s->cmdadd);
        settle();
        dir.insert(numbered({"4"}));
        s = openEdit();
        QCOMPARE(s->windowTitle(), caption(4));
        QCOMPARE(title(s), QStringLiteral("本1"));
        QCOMPARE(s->Text5->text(), QString());
        QCOMPARE(reachable(s), QStringList({"本1", "本2", "本3", "本4"}));
    }

    // A write the database refuses is reported; nothing is half done.
    void refusedWrites()
    {
        AppDir dir;
        dir.insert(numbered({"1", "2", "3"}));
        dir.exec(QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON tabel BEGIN SELECT RAISE(ABORT, 'kept'); END;"
                                "CREATE TRIGGER fixed BEFORE UPDATE ON tabel BEGIN SELECT RAISE(ABORT, 'fixed'); END;"));
        const QList<Book> before = dir.rows();
        Menu menu;
        MessageScript messages;
        Main2 *s = openEdit();

        messages.answer(QMessageBox::Yes);
        click(s->Command1);
        QCOMPARE(messages.shown.size(), 2);
        QCOMPARE(messages.shown[1].icon, QMessageBox::Critical);
        QCOMPARE(dir.rows(), before);
        QCOMPARE(s->windowTitle(), caption(3));
        QCOMPARE(s->Text7->text(), QStringLiteral("3"));
        QCOMPARE(s->Data1->caption(), QStringLiteral("1"));
        QVERIFY(s->Command1->isEnabled());

        // A refused correction stays in the panel and can be stored later.
        s->panel->TitleBox->setText(QStringLiteral("直した"));
        messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(messages.shown.size(), 4);
        QCOMPARE(messages.shown[3].icon, QMessageBox::Critical);
        QCOMPARE(dir.rows(), before);
        QCOMPARE(title(s), QStringLiteral("直した"));
        dir.exec(QStringLiteral("DROP TRIGGER fixed;"));
        messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(messages.shown.size(), 5);
        QCOMPARE(*dir.rows()[0][1], QStringLiteral("直した"));
    }
};

QTEST_MAIN(TestEdit)
#include "test_edit.moc"
