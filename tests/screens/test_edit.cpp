#include "screens/common/datacontrol.h"
#include "screens/edit/editscreen.h"
#include "screens/list/listscreen.h"
#include "screens/menu/startmenu.h"
#include "screens/record_panel/recordpanel.h"
#include "screens/registration/registrationscreen.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>

using namespace testsupport;
using namespace screens;

namespace {

const screens::Message fixQuestion = {nullptr,
                                      QMessageBox::Question,
                                      QStringLiteral("データ修正"),
                                      QStringLiteral("このデータを修正します。\r\nよろしいですか？"),
                                      QMessageBox::Yes | QMessageBox::No,
                                      QMessageBox::Yes};
const screens::Message deleteQuestion = {nullptr,
                                         QMessageBox::Question,
                                         QStringLiteral("データ削除"),
                                         QStringLiteral("このデータを削除します。\r\nよろしいですか？"),
                                         QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::Yes};

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

void move(EditScreen *s, const char *button) { click(s->Data1, button); }
QString title(EditScreen *s) { return s->panel->TitleBox->text(); }
QColor indicator(EditScreen *s) { return screens::backgroundOf(s->panel->Label4); }

void search(EditScreen *s, const QString &number)
{
    s->Text5->setText(number);
    click(s->Command5);
}

// The book count as the screen shows it: in the caption and the hidden copy.
QString shownCount(EditScreen *s) { return s->windowTitle() + u'|' + s->Text7->text(); }
QString count(int n) { return QStringLiteral("ブクレア　修正・削除   全 %1 件 |%1").arg(n); }

// Every title reachable with the data control, first to last.
QStringList reachable(EditScreen *s)
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
    void cleanup() { closeScreens(); }

    void opensOnTheFirstBook()
    {
        Opened<EditScreen> o({book({"7", "はじめての蔵書目録", "山田太郎", "文芸社", "1998", "0 年鑑・百科事典・図書館",
                                    "居間の本棚", "中", "目録 整理"}),
                              book({"8", "二冊目"}), book({"9", "三冊目"})});
        EditScreen *s = o.screen;
        QCOMPARE(shownCount(s), count(3));
        QVERIFY(s->Text7->isHidden() && !s->Text7->isEnabled());
        QCOMPARE(s->Data1->caption(), QStringLiteral("1"));
        QVERIFY(s->Data1->isVisible() && s->Data1->isEnabled());
        QCOMPARE(title(s), QStringLiteral("はじめての蔵書目録"));
        QCOMPARE(s->panel->Combo1->currentText(), QStringLiteral("0 年鑑・百科事典・図書館"));
        QCOMPARE(indicator(s), RecordPanel::lentOutColor());

        // What differs from the registration screen: the window, the names,
        // the search group's colour (red 192, green 192, blue 255) with its
        // box behind it, and the focus order from the title box round.
        QCOMPARE(s->client()->size(), QSize(593, 330));
        QVERIFY(!s->windowIcon().isNull());
        QVERIFY(s->findChild<QAction *>(QStringLiteral("nmuhlo")));
        for (QWidget *b : {s->Command5, s->Command6})
            QCOMPARE(screens::backgroundOf(b), QColor(192, 192, 255));
        QCOMPARE(s->Frame4->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).first(), s->Frame11);
        QCOMPARE(tabWalk(21), QStringList({"Text4",    "Text8",    "Text9",    "Text3",  "Combo1", "Text6",
                                           "Text2",    "Command3", "Command4", "Text1",  "Text5",  "Command5",
                                           "Command6", "Command2", "Command1", "cmdrep", "cmdadd", "first",
                                           "previous", "next",     "last",     "Text4"}));

        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS"))
            s->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/edit.png"));
    }

    // The position display and the indicator follow every move; a book
    // without a lending value (or another one) keeps the colour before.
    void navigationShowsPositionAndLendingState()
    {
        QList<Book> books;
        for (const char *lending : std::initializer_list<const char *>{"可", "中", nullptr, "可", "貸"})
            books << book({"1", QByteArray(1, char('A' + books.size())).constData(), nullptr, nullptr, nullptr, nullptr,
                           nullptr, lending});
        Opened<EditScreen> o(books);
        EditScreen *s = o.screen;
        const QColor avail = RecordPanel::availableColor(), lent = RecordPanel::lentOutColor();
        const QList<QColor> expected = {avail, lent, lent, avail, avail};
        for (int i = 0; i < expected.size(); ++i) {
            if (i > 0)
                move(s, "next");
            QCOMPARE(title(s), QString(QChar(u'A' + i)));
            QCOMPARE(s->Data1->caption(), QString::number(i + 1));
            QCOMPARE(indicator(s), expected[i]);
        }
        for (const char *to : {"previous", "previous", "previous", "last"}) // to 中, then to the end
            move(s, to);
        QCOMPARE(s->Data1->caption(), QStringLiteral("5"));
        QCOMPARE(indicator(s), lent);
    }

    // "修正" writes the panel into the current book only on Yes; reopening
    // the screen shows what was stored, the whole table counted anew.
    void correctionIsWrittenOnlyWhenConfirmed_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void correctionIsWrittenOnlyWhenConfirmed()
    {
        QFETCH(bool, yes);
        Opened<EditScreen> o(numbered({"1", "2"}));
        QList<Book> expected = o.dir.rows();
        o.messages.answer(yes ? QMessageBox::Yes : QMessageBox::No);
        EditScreen *s = o.screen;
        s->panel->TitleBox->selectAll();
        typeText(s->panel->TitleBox, QStringLiteral("新しい書名"));
        s->panel->Text3->clear(); // an emptied box is stored as NULL
        click(s->panel->Command4);
        click(s->Command2);
        QCOMPARE(o.messages.shown.size(), 1);
        QCOMPARE(describe(o.messages.shown[0]), describe(fixQuestion));
        // Nothing else changes, and the edits stay in the panel either way.
        QCOMPARE(title(s), QStringLiteral("新しい書名"));
        QCOMPARE(shownCount(s), count(2));
        QCOMPARE(s->Data1->caption(), QStringLiteral("1"));
        if (yes) {
            expected[0][1] = QStringLiteral("新しい書名");
            expected[0][4] = std::nullopt;
            expected[0][7] = QStringLiteral("中");
        }
        QCOMPARE(o.dir.rows(), expected);

        search(s, QStringLiteral("2"));
        click(s->cmdadd);
        settle();
        o.dir.insert(numbered({"3"}));
        s = o.reopen();
        QCOMPARE(title(s), yes ? QStringLiteral("新しい書名") : QStringLiteral("本1"));
        QCOMPARE(indicator(s), yes ? RecordPanel::lentOutColor() : RecordPanel::availableColor());
        QCOMPARE(shownCount(s), count(3));
        QCOMPARE(s->Text5->text(), QString());
        QCOMPARE(reachable(s).size(), 3);
    }

    // A count above 1 asks first; Yes deletes and shows the last book; a
    // count of 1 disables the button for the rest of the screen's life.
    void deletion_data()
    {
        QTest::addColumn<int>("books");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("shown");
        QTest::newRow("3 yes") << 3 << true << QStringList({"本2", "本3"}) << "本3";
        QTest::newRow("3 no") << 3 << false << QStringList({"本1", "本2", "本3"}) << "本1";
        QTest::newRow("2 yes") << 2 << true << QStringList({"本2"}) << "本2";
        QTest::newRow("1") << 1 << true << QStringList({"本1"}) << "本1";
    }
    void deletion()
    {
        QFETCH(int, books);
        QFETCH(bool, yes);
        QFETCH(QStringList, left);
        QFETCH(QString, shown);
        Opened<EditScreen> o(numbered(QStringList({"1", "2", "3"}).mid(0, books)));
        o.messages.answer(yes ? QMessageBox::Yes : QMessageBox::No);
        EditScreen *s = o.screen;
        click(s->Command1);
        QCOMPARE(o.messages.shown.size(), books > 1 ? 1 : 0);
        if (books > 1)
            QCOMPARE(describe(o.messages.shown[0]), describe(deleteQuestion));
        QStringList titles;
        for (const Book &b : o.dir.rows())
            titles << *b[1];
        QCOMPARE(titles, left);
        QCOMPARE(title(s), shown);
        QCOMPARE(s->Data1->caption(), QString::number(left.indexOf(shown) + 1));
        QCOMPARE(shownCount(s), count(left.size()));
        QCOMPARE(s->Command1->isEnabled(), left.size() > 1);
        search(s, QString());
        QCOMPARE(s->Command1->isEnabled(), left.size() > 1);
    }

    // The number search: substring hits in the table's order, each shown
    // field by field (empty as empty); an apostrophe searched as typed; no
    // hit; the reset; a deletion inside a result runs the search again.
    // Only a deletion changes the count.
    void numberSearch()
    {
        Opened<EditScreen> o(
            QList<Book>({book({"1", "一"})}) + numbered({"2", "10", "3", "21"})
            + QList<Book>({book({"42", "四十二", "著", "社", "1999", "手で入れた分類", "二階", "中", "鍵"}),
                           book({nullptr, "番号なし"})})
            + numbered({"O'12"}));
        EditScreen *s = o.screen;
        RecordPanel *p = s->panel;
        search(s, QStringLiteral("4"));
        QCOMPARE(
            QStringList({p->Text6->text(), p->TitleBox->text(), p->Text8->text(), p->Text9->text(), p->Text3->text(),
                         p->Combo1->currentText(), p->Text1->text(), p->Label5->text(), p->Text2->text()}),
            QStringList({"42", "四十二", "著", "社", "1999", "手で入れた分類", "二階", "中", "鍵"}));
        QCOMPARE(indicator(s), RecordPanel::lentOutColor());

        search(s, QStringLiteral("1"));
        QCOMPARE(p->Text8->text(), QString());
        QCOMPARE(p->Label5->text(), QString());
        QCOMPARE(indicator(s), RecordPanel::lentOutColor());
        QCOMPARE(reachable(s), QStringList({"一", "本10", "本21", "本O'12"}));
        QCOMPARE(s->Data1->caption(), QStringLiteral("4"));
        QCOMPARE(s->Text5->text(), QStringLiteral("1"));
        search(s, QStringLiteral("'1"));
        QCOMPARE(reachable(s), QStringList({"本O'12"}));
        QVERIFY(o.messages.shown.isEmpty());

        // No hit: the notice, and the empty result stays open.
        for (const char *number : {"99", "x' or 1=1 or '"}) {
            search(s, QString::fromLatin1(number));
            QCOMPARE(describe(o.messages.shown.last()), describe(notFound()));
            QCOMPARE(title(s), QString());
            QCOMPARE(s->Data1->caption(), QStringLiteral("0")); // the position of no book, plus one
            QCOMPARE(s->Text5->text(), QString::fromLatin1(number));
        }
        QCOMPARE(o.messages.shown.size(), 2);

        // The reset reaches every book that has a number.
        click(s->Command6);
        QCOMPARE(s->Text5->text(), QString());
        QCOMPARE(reachable(s), QStringList({"一", "本2", "本10", "本3", "本21", "四十二", "本O'12"}));
        QCOMPARE(shownCount(s), count(8));

        search(s, QStringLiteral("1"));
        move(s, "next"); // 本10
        o.messages.answer(QMessageBox::Yes);
        click(s->Command1);
        QCOMPARE(o.dir.rows(QStringLiteral("蔵書番号 = 10")).size(), 0);
        QCOMPARE(o.dir.count(), 7);
        QCOMPARE(title(s), QStringLiteral("本O'12"));
        QCOMPARE(s->Data1->caption(), QStringLiteral("3"));
        QCOMPARE(reachable(s), QStringList({"一", "本21", "本O'12"}));
        QCOMPARE(shownCount(s), count(7));
        QCOMPARE(o.messages.shown.size(), 3);
    }

    // Whatever is typed into the panel stays out of the file unless "修正"
    // is confirmed: not on moving when the user answers いいえ to saving,
    // not on any way of leaving. Without a
    // current book "修正" and "削除" write nothing and ask nothing, and
    // leaving still reaches the start menu. "データ一覧" hands over to the
    // list screen; the start menu stays hidden.
    void unconfirmedEditsAreNeverWritten_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("action");
        for (const char *action : {"move", "menu", "close box", "list"})
            QTest::addRow("search result, %s", action) << "search result" << QString::fromLatin1(action);
        for (const char *state : {"empty result", "only hit deleted", "empty table"}) {
            for (const char *action : {"menu", "close box"})
                QTest::addRow("%s, %s", state, action) << QString::fromLatin1(state) << QString::fromLatin1(action);
        }
    }
    void unconfirmedEditsAreNeverWritten()
    {
        QFETCH(QString, state);
        QFETCH(QString, action);
        Opened<EditScreen> o(state == QStringLiteral("empty table") ? QList<Book>() : numbered({"1", "2", "3"}));
        EditScreen *s = o.screen;
        if (state == QStringLiteral("search result")) {
            search(s, QString());
        } else if (state == QStringLiteral("empty result")) {
            search(s, QStringLiteral("9"));
        } else if (state == QStringLiteral("only hit deleted")) {
            search(s, QStringLiteral("2"));
            o.messages.answer(QMessageBox::Yes);
            click(s->Command1);
            QCOMPARE(o.dir.count(), 2);
        }
        const QList<Book> before = o.dir.rows();
        const int boxes = int(o.messages.shown.size());
        const QString counted = count(o.dir.count());
        s->panel->TitleBox->setText(QStringLiteral("書き込まれない"));
        s->panel->Combo1->setEditText(QStringLiteral("8 言語"));
        click(s->panel->Command4);
        if (state != QStringLiteral("search result")) {
            QCOMPARE(s->Data1->caption(), QStringLiteral("0"));
            click(s->Command2);
            click(s->Command1);
            QVERIFY(s->Command1->isEnabled());
            QCOMPARE(shownCount(s), counted);
        }
        if (action == QStringLiteral("move")) {
            o.messages.answer(QMessageBox::No); // 「変更を保存しますか？」
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
        QCOMPARE(o.dir.rows(), before);
        QCOMPARE(o.messages.shown.size(), boxes + (action == QStringLiteral("move") ? 1 : 0));
        if (action != QStringLiteral("move")) {
            QCOMPARE(liveWindows(QStringLiteral("Main2")), 0);
            QCOMPARE(o.menu.isVisible(), action != QStringLiteral("list"));
            QCOMPARE(visibleWindow(QStringLiteral("db")) != nullptr, action == QStringLiteral("list"));
        }
    }

    // Leaving and coming back starts afresh: the whole table, the first
    // book, an empty number box and a new count.
    void reopeningStartsAfresh()
    {
        Opened<EditScreen> o(numbered({"1", "2", "3"}));
        search(o.screen, QStringLiteral("3"));
        click(o.screen->cmdadd);
        settle();
        o.dir.insert(numbered({"4"}));
        EditScreen *s = o.reopen();
        QVERIFY(s);
        QCOMPARE(shownCount(s), count(4));
        QCOMPARE(title(s), QStringLiteral("本1"));
        QCOMPARE(s->Text5->text(), QString());
        QCOMPARE(reachable(s), QStringList({"本1", "本2", "本3", "本4"}));
    }

    // A write the database refuses is reported; nothing is half done, and
    // a refused correction stays in the panel to be stored later.
    void refusedWrites()
    {
        Opened<EditScreen> o(numbered({"1", "2", "3"}));
        EditScreen *s = o.screen;
        o.dir.exec(QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON tabel BEGIN SELECT RAISE(ABORT, 'kept'); END;"
                                  "CREATE TRIGGER fixed BEFORE UPDATE ON tabel BEGIN SELECT RAISE(ABORT, 'no'); END;"));
        const QList<Book> before = o.dir.rows();
        o.messages.answer(QMessageBox::Yes);
        click(s->Command1);
        QCOMPARE(o.messages.shown.size(), 2);
        QCOMPARE(o.messages.shown[1].icon, QMessageBox::Critical);
        QCOMPARE(o.dir.rows(), before);
        QCOMPARE(shownCount(s), count(3));
        QCOMPARE(s->Data1->caption(), QStringLiteral("1"));
        QVERIFY(s->Command1->isEnabled());

        s->panel->TitleBox->setText(QStringLiteral("直した"));
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(o.messages.shown.size(), 4);
        QCOMPARE(o.messages.shown[3].icon, QMessageBox::Critical);
        QCOMPARE(o.dir.rows(), before);
        QCOMPARE(title(s), QStringLiteral("直した"));
        o.dir.exec(QStringLiteral("DROP TRIGGER fixed;"));
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(o.messages.shown.size(), 5);
        QCOMPARE(*o.dir.rows()[0][1], QStringLiteral("直した"));
    }
    // The count the screens show on a large collection, counted once and
    // then followed: deletions here, books saved by the registration
    // screen, and books another program adds or deletes in between (which
    // an open screen shows when it is opened again).
    void countShownFollowsEveryChangeOnALargeTable()
    {
        Opened<EditScreen> o(numbered({"1"}));
        o.dir.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                                  "INSERT INTO tabel (蔵書番号, 書名) SELECT i, '本' || i FROM n"));
        click(o.screen->cmdadd);
        EditScreen *s = o.reopen();
        QCOMPARE(shownCount(s), count(20000));
        struct Change {
            const char *what;
            std::function<void()> make;
            int books;
        };
        auto reopen = [&] {
            click(s->cmdadd);
            s = o.reopen();
        };
        auto deleteHere = [&] {
            o.messages.answer(QMessageBox::Yes);
            click(s->Command1);
        };
        int saved = 0;
        auto saveNew = [&] {
            click(s->cmdadd);
            RegistrationScreen *form = openFromMenu<RegistrationScreen>(o.menu);
            QVERIFY(form);
            // A title of its own each time: the same book again would be asked about.
            typeText(child<QLineEdit>(form, "Text7"), QStringLiteral("新しい本 %1").arg(++saved));
            click(form->Command1);
            settle();
            s = o.reopen();
        };
        auto byAnotherProgram = [&](const char *sql) { o.dir.exec(QString::fromUtf8(sql)); };
        const Change changes[] = {
            {"deleted here", deleteHere, 19999},
            {"deleted here again", deleteHere, 19998},
            {"saved by the registration screen", saveNew, 19999},
            {"saved again", saveNew, 20000},
            {"added by another program",
             [&] {
                 byAnotherProgram("INSERT INTO tabel (書名) VALUES ('a'), ('b'), ('c')");
                 reopen();
             },
             20003},
            {"deleted by another program",
             [&] {
                 byAnotherProgram("DELETE FROM tabel WHERE 書名 IN ('a', 'b')");
                 reopen();
             },
             20001},
            {"deleted here right after another program added one",
             [&] {
                 byAnotherProgram("INSERT INTO tabel (書名) VALUES ('d')");
                 deleteHere();
                 reopen();
             },
             20001},
        };
        for (const Change &change : changes) {
            change.make();
            QVERIFY2(s, change.what);
            QVERIFY2(shownCount(s) == count(change.books),
                     qPrintable(QString::fromLatin1(change.what) + u' ' + shownCount(s)));
            QCOMPARE(o.dir.count(), change.books);
        }
        click(s->cmdrep);
        settle();
        auto *list = qobject_cast<ListScreen *>(QApplication::activeWindow());
        QVERIFY(list);
        QCOMPARE(list->Text2->text(), QString::number(o.dir.count()));
    }

    // The count is taken when the screen first opens and kept from one
    // opening to the next while only this program writes; whatever changed
    // in between, every opening shows the exact count.
    void countKeptExactAcrossOpenings_data()
    {
        QTest::addColumn<QString>("between");
        QTest::addColumn<int>("expected");
        QTest::newRow("nothing") << "nothing" << 3;
        QTest::newRow("another program adds two") << "other adds" << 5;
        QTest::newRow("another program deletes one") << "other deletes" << 2;
        QTest::newRow("this screen deletes one") << "delete here" << 2;
        QTest::newRow("this screen corrects one") << "correct here" << 3;
    }
    void countKeptExactAcrossOpenings()
    {
        QFETCH(QString, between);
        QFETCH(int, expected);
        Opened<EditScreen> o(numbered({"1", "2", "3"}));
        EditScreen *s = o.screen;
        QCOMPARE(shownCount(s), count(3));
        if (between == QLatin1String("other adds")) {
            o.dir.insert(numbered({"4", "5"}));
        } else if (between == QLatin1String("other deletes")) {
            o.dir.exec(QStringLiteral("DELETE FROM tabel WHERE 蔵書番号 = 2"));
        } else if (between == QLatin1String("delete here")) {
            o.messages.answer(QMessageBox::Yes);
            click(s->Command1);
        } else if (between == QLatin1String("correct here")) {
            o.messages.answer(QMessageBox::Yes);
            s->panel->TitleBox->selectAll();
            typeText(s->panel->TitleBox, QStringLiteral("直した"));
            click(s->Command2);
        }
        click(s->cmdadd);
        settle();
        s = o.reopen();
        QCOMPARE(shownCount(s), count(expected));
        QCOMPARE(o.dir.count(), expected);
        // Once more with nothing in between: still exact.
        click(s->cmdadd);
        settle();
        s = o.reopen();
        QCOMPARE(shownCount(s), count(expected));
    }
};

QTEST_MAIN(TestEdit)
#include "test_edit.moc"
