#include "screens/common/datacontrol.h"
#include "screens/menu/startmenu.h"
#include "screens/record_panel/recordpanel.h"
#include "screens/registration/registrationscreen.h"
#include "store/backup.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <limits>

using namespace testsupport;
using namespace screens;

namespace {

// The boxes of the panel on this screen in focus order, and the column of
// the field each one writes.
constexpr std::pair<const char *, int> boxes[] = {{"Text7", 1},  {"Text8", 2}, {"Text9", 3}, {"Text3", 4},
                                                  {"Combo1", 5}, {"Text6", 0}, {"Text2", 8}, {"Text1", 6}};

const QStringList aBook = {"吾輩は猫である", "夏目漱石", "岩波書店",           "1905",
                           "9 文学",         "42",       "猫　名前はまだ無い", "書斎 2段目"};

void fill(RegistrationScreen *form, const QStringList &typed)
{
    for (int i = 0; i < 8; ++i)
        typeText(child<QWidget>(form, boxes[i].first), typed[i]);
}

QStringList boxTexts(RegistrationScreen *form)
{
    QStringList out;
    for (auto [name, column] : boxes)
        out << child<QWidget>(form, name)->property(name[0] == 'C' ? "currentText" : "text").toString();
    return out;
}

// The book "新規登録" should store for eight typed texts (in focus order)
// and a lending value.
Book expectedRow(const QStringList &typed, const QString &lending)
{
    Book b(9);
    for (int i = 0; i < 8; ++i) {
        if (!typed[i].isEmpty())
            b[boxes[i].second] = typed[i];
    }
    if (!lending.isEmpty())
        b[7] = lending;
    return b;
}

QColor indicator(RegistrationScreen *form) { return screens::backgroundOf(child<QLabel>(form, "Label4")); }
QColor buttonFace() { return screens::systemColor(QPalette::Button); }

} // namespace

// The registration screen: what it stores, the ways of leaving it without
// storing anything, a write the database refuses, and its design.
class TestRegistration : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        screens::Form::setSessionEnding(false);
        closeScreens();
    }

    // One row per control (position, caption, colour, font, alignment, input
    // method), then the focus order, which goes round.
    void looksAsDesigned()
    {
        Opened<RegistrationScreen> o;
        RegistrationScreen *form = o.screen;
        QCOMPARE(form->windowTitle(), QStringLiteral("ブクレア"));
        QCOMPARE(form->client()->size(), QSize(594, 330));
        QVERIFY(form->client()->y() >= form->menuBar()->height());
        QVERIFY(form->minimumSize() == form->maximumSize() && !(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form->windowIcon().pixmap(32).toImage() == QIcon(QStringLiteral(":/main.ico")).pixmap(32).toImage());

        const QColor lilac(192, 192, 255), none;
        struct Look {
            const char *name, *text; // caption or title; null: not checked
            screens::Twips at;
            QColor background; // invalid: not checked
            double points;     // 0: not checked
            bool bold = false, centred = false;
            char ime = ' '; // '+' on, '-' off, ' ' left as it is
        };
        const Look looks[] = {
            {"Frame3", "書名", {120, 120, 5415, 855}, none, 12},
            {"Frame6", "著者名", {120, 1080, 5415, 855}, none, 12},
            {"Frame7", "出版社", {120, 2040, 5415, 855}, none, 12},
            {"Frame8", "出版年", {120, 3000, 2295, 855}, none, 12},
            {"Frame9", "分類", {2520, 3000, 3015, 855}, none, 12},
            {"Frame5", "蔵書番号", {120, 3960, 1455, 855}, none, 12},
            {"Frame1", "検索用キーワード", {1680, 3960, 3855, 855}, none, 12},
            {"Frame2", "現在の状態", {5760, 120, 3015, 1335}, none, 12},
            {"Frame10", "保管場所", {5760, 1560, 3015, 855}, none, 12},
            {"Frame4", "データ操作", {5760, 2520, 3015, 2295}, none, 12},
            {"Text7", nullptr, {120, 360, 5175, 375}, lilac, 12, false, false, '+'},
            {"Text8", nullptr, {120, 360, 5175, 375}, lilac, 12, false, false, '+'},
            {"Text9", nullptr, {120, 360, 5175, 375}, lilac, 12, false, false, '+'},
            {"Text3", nullptr, {120, 360, 1575, 375}, lilac, 14.25, true, true, '-'},
            {"Label1", "年", {1800, 390, 315, 315}, none, 14.25},
            {"Combo1", nullptr, {120, 360, 2775, 315}, QColor(192, 255, 192), 9.75},
            {"Text6", nullptr, {120, 360, 1215, 375}, lilac, 12, true, true},
            {"Text2", nullptr, {120, 360, 3615, 375}, QColor(255, 255, 192), 12, false, false, '+'},
            {"Command3", "貸出し可能", {120, 360, 1335, 375}, RecordPanel::availableColor(), 11.25},
            {"Command4", "貸出し中", {120, 840, 1335, 375}, RecordPanel::lentOutColor(), 11.25},
            {"Label4", nullptr, {1560, 360, 1335, 855}, buttonFace(), 0}, // a new book has no lending state
            {"Text1", nullptr, {120, 360, 2775, 375}, QColor(255, 192, 192), 12, false, false, '+'},
            {"Command1", "新規登録", {120, 360, 2775, 780}, none, 12},
            {"Command2", "キャンセル", {120, 1200, 2775, 435}, none, 12},
            {"Data1", nullptr, {120, 1800, 2775, 375}, none, 9},
        };
        const bool qtDefaultIme = QLineEdit().testAttribute(Qt::WA_InputMethodEnabled);
        for (const Look &d : looks) {
            QWidget *w = child<QWidget>(form, d.name);
            const QByteArray where = d.name;
            QVERIFY2(w->geometry() == screens::toPixels(d.at), where);
            if (d.points > 0)
                QVERIFY2(w->font() == screens::font(d.points, d.bold), where);
            if (d.text)
                QCOMPARE(w->property(w->inherits("QGroupBox") ? "title" : "text").toString(), QString(d.text));
            // The colour shows where the control is painted: a button's face,
            // a box's base.
            if (d.background.isValid()) {
                QVERIFY2(screens::backgroundOf(w) == d.background, where);
                if (!w->inherits("QLabel"))
                    QVERIFY2(w->palette().color(w->inherits("QPushButton") ? QPalette::Button : QPalette::Base)
                                 == d.background,
                             where);
            }
            if (auto *edit = qobject_cast<QLineEdit *>(w)) {
                const Qt::Alignment alignment = d.centred ? Qt::AlignHCenter : Qt::AlignLeft;
                QVERIFY2(edit->alignment() == (alignment | Qt::AlignVCenter), where);
                QVERIFY2(w->testAttribute(Qt::WA_InputMethodEnabled) == (d.ime == ' ' ? qtDefaultIme : d.ime == '+'),
                         where);
            }
        }
        auto *combo = child<QComboBox>(form, "Combo1");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, QStringList({"0 年鑑・百科事典・図書館", "1 哲学・宗教", "2 歴史・伝記・地理",
                                     "3 社会科学・風俗・軍事・教育", "4 自然科学・医学", "5 技術・家庭", "6 産業・交通",
                                     "7 芸術・体育", "8 言語", "9 文学"}));
        auto *data = child<screens::DataControl>(form, "Data1");
        QVERIFY(data->caption() == QStringLiteral("新規登録") && data->isVisible() && !data->isEnabled());
        QVERIFY(!child<QLabel>(form, "Label5")->isVisibleTo(form));
        for (QLineEdit *edit : form->findChildren<QLineEdit *>()) // no box limits its text
            QCOMPARE(edit->maxLength(), std::numeric_limits<int>::max());

        QCOMPARE(tabWalk(12), QStringList({"Text7", "Text8", "Text9", "Text3", "Combo1", "Text6", "Text2", "Command3",
                                           "Command4", "Text1", "Command1", "Command2", "Text7"}));

        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS")) {
            fill(form, aBook);
            click(form, "Command3");
            child<QWidget>(form, "Text7")->setFocus();
            form->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/registration.png"));
        }
    }

    void savesWhatWasTyped_data()
    {
        QTest::addColumn<QStringList>("typed"); // in focus order; the category by hand
        QTest::addColumn<int>("categoryItem");  // chosen from the list with the arrow keys, or -1
        QTest::addColumn<QString>("presses");   // lending buttons in order: 可 / 中
        QTest::addColumn<QString>("lending");   // stored; "" is NULL
        QStringList fromList = aBook;
        fromList[4].clear();
        QTest::newRow("chosen category, lent out") << fromList << 9 << "中"
                                                   << "中";
        // "9" stays "9": typed text is never completed into a list item.
        QTest::newRow("hand-typed category, no lending button")
            << QStringList{"ノルウェイの森", "村上春樹", "講談社", "1987", "9", "7", "小説", "居間"} << -1 << ""
            << "";
        QTest::newRow("lent out, then available") << aBook << -1 << "中可"
                                                  << "可";
        QTest::newRow("apostrophes and wildcards")
            << QStringList{"O'Reilly's *Qt* 100%", "it''s", "[a-z]_?", "'", "分類 '*'", "1'", "%", "#"} << -1 << "可"
            << "可";
        const QString longText = QStringLiteral("あいうえお").repeated(2000);
        QTest::newRow("10,000 characters")
            << QStringList{longText, "", "", "", longText, "", longText, longText} << -1 << ""
            << "";
        QTest::newRow("every box empty") << QStringList(8) << -1 << ""
                                         << "";
    }
    void savesWhatWasTyped()
    {
        QFETCH(QStringList, typed);
        QFETCH(int, categoryItem);
        QFETCH(QString, presses);
        QFETCH(QString, lending);
        Opened<RegistrationScreen> o;
        RegistrationScreen *form = o.screen;
        fill(form, typed);
        for (int i = 0; i <= categoryItem; ++i)
            QTest::keyClick(child<QComboBox>(form, "Combo1"), Qt::Key_Down);
        if (categoryItem >= 0)
            typed[4] = QStringLiteral("9 文学");
        for (QChar p : presses)
            click(form, p == u'可' ? "Command3" : "Command4");
        QCOMPARE(boxTexts(form), typed);
        QCOMPARE(indicator(form), lending == QStringLiteral("可")   ? RecordPanel::availableColor()
                                  : lending == QStringLiteral("中") ? RecordPanel::lentOutColor()
                                                                    : buttonFace());
        click(form, "Command1");
        settle();
        QVERIFY(o.menu.isVisible());
        QCOMPARE(liveWindows(QStringLiteral("Main")), 0);
        QCOMPARE(o.dir.rows(), QList<Book>({expectedRow(typed, lending)}));

        // The next visit starts empty, the book before nowhere in sight, and
        // stores a book of its own.
        form = o.reopen();
        QVERIFY(form);
        QCOMPARE(boxTexts(form), QStringList(8));
        QCOMPARE(child<QLabel>(form, "Label5")->text(), QString());
        QCOMPARE(indicator(form), buttonFace());
        click(form, "Command1");
        settle();
        QVERIFY(o.messages.shown.isEmpty());
        QCOMPARE(o.dir.rows(), QList<Book>({expectedRow(typed, lending), expectedRow(QStringList(8), {})}));
    }

    // Leaving by any way but "新規登録" drops the new book (the exit command
    // is checked with the menu bar).
    void leavingStoresNothing_data()
    {
        QTest::addColumn<QString>("way");
        for (const char *way : {"キャンセル", "close box", "session end"})
            QTest::newRow(way) << QString::fromUtf8(way);
    }
    void leavingStoresNothing()
    {
        QFETCH(QString, way);
        Opened<RegistrationScreen> o({book({"1", "既存の本"})});
        RegistrationScreen *form = o.screen;
        fill(form, aBook);
        click(form, "Command4");
        const bool sessionEnd = way == QStringLiteral("session end");
        screens::Form::setSessionEnding(sessionEnd);
        if (way == QStringLiteral("キャンセル"))
            click(form, "Command2");
        else
            form->close();
        screens::Form::setSessionEnding(false);
        settle();
        QCOMPARE(liveWindows(QStringLiteral("Main")), 0);
        QCOMPARE(o.dir.count(), 1);
        QVERIFY(o.messages.shown.isEmpty());
        QCOMPARE(o.menu.isVisible(), !sessionEnd);
    }

    // A refused write is explained; the screen keeps what was typed and
    // nothing is written, so the user can put it right and retry, or cancel.
    void refusedWrite_data()
    {
        QTest::addColumn<bool>("lock"); // else a duplicate number
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("retry");
        QTest::newRow("locked file, retry") << true << "使用中" << true;
        QTest::newRow("locked file, cancel") << true << "使用中" << false;
        QTest::newRow("duplicate number, retry") << false << "重複" << true;
    }
    void refusedWrite()
    {
        QFETCH(bool, lock);
        QFETCH(QString, reason);
        QFETCH(bool, retry);
        Opened<RegistrationScreen> o;
        RegistrationScreen *form = o.screen;
        if (!lock) {
            o.dir.exec(QStringLiteral("CREATE UNIQUE INDEX number ON tabel (蔵書番号)"));
            o.dir.insert({book({"42", "既存の本"})});
        }
        const QList<Book> before = o.dir.rows();
        fill(form, aBook);
        click(form, "Command4");
        std::optional<FileLock> locked;
        if (lock) {
            store::Backups(o.dir.dbPath()).make(); // today's backup is made: the save goes to the write
            locked.emplace(o.dir.dbPath());
        }
        click(form, "Command1");
        settle();
        QCOMPARE(o.messages.shown.size(), 1);
        const QString text = o.messages.shown[0].text;
        QCOMPARE(o.messages.shown[0].icon, QMessageBox::Critical);
        QVERIFY2(text.contains(QStringLiteral("登録できませんでした")) && text.contains(o.dir.dbPath())
                     && text.contains(reason),
                 qPrintable(text));
        QCOMPARE(visibleWindow(QStringLiteral("Main")), form);
        QVERIFY(!o.menu.isVisible());
        QCOMPARE(boxTexts(form), aBook);
        QCOMPARE(child<QLabel>(form, "Label5")->text(), QStringLiteral("中"));
        QCOMPARE(indicator(form), RecordPanel::lentOutColor());
        locked.reset();
        QCOMPARE(o.dir.rows(), before);

        QStringList typed = aBook;
        if (!lock) {
            child<QLineEdit>(form, "Text6")->selectAll();
            typeText(child<QLineEdit>(form, "Text6"), typed[5] = QStringLiteral("43"));
        }
        click(form, retry ? "Command1" : "Command2");
        settle();
        QCOMPARE(o.messages.shown.size(), 1);
        QVERIFY(o.menu.isVisible());
        QCOMPARE(liveWindows(QStringLiteral("Main")), 0);
        QCOMPARE(o.dir.rows(), before + (retry ? QList<Book>({expectedRow(typed, "中")}) : QList<Book>()));
    }

    // The data control is shown disabled: it never leaves the new book.
    void dataControlCannotMove()
    {
        Opened<RegistrationScreen> o(
            {book({"1", "一冊目", nullptr, nullptr, nullptr, nullptr, nullptr, "中"}), book({"2", "二冊目"})});
        RegistrationScreen *form = o.screen;
        typeText(child<QLineEdit>(form, "Text7"), QStringLiteral("新しい本"));
        for (const char *move : {"first", "next", "last", "previous"}) {
            click(child<QWidget>(form, "Data1"), move);
            QCOMPARE(boxTexts(form), QStringList({"新しい本", "", "", "", "", "", "", ""}));
            QCOMPARE(indicator(form), buttonFace());
        }
        click(form, "Command1");
        settle();
        QVERIFY(o.messages.shown.isEmpty());
        QCOMPARE(o.dir.rows(), QList<Book>({book({"1", "一冊目", nullptr, nullptr, nullptr, nullptr, nullptr, "中"}),
                                            book({"2", "二冊目"}), book({nullptr, "新しい本"})}));
    }
};

QTEST_MAIN(TestRegistration)
#include "test_registration.moc"
