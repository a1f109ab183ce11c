#include "app/fonts.h"
#include "screens/menu/menu.h"
#include "screens/record_panel/recordpanel.h"
#include "screens/registration/main.h"
#include "store/datacontrol.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <limits>
#include <sqlite3.h>

using namespace testsupport;

namespace {

// The boxes of the panel on this screen, in focus order, and the field
// each one writes (as its column in the table).
struct Box {
    const char *name;
    int column;
};
constexpr Box boxes[] = {{"Text7", 1}, {"Text8", 2}, {"Text9", 3}, {"Text3", 4},
                         {"Combo1", 5}, {"Text6", 0}, {"Text2", 8}, {"Text1", 6}};
constexpr int lendingColumn = 7;

// Opens the registration screen the way the user does, from the start menu.
Main *openFrom(Menu &menu)
{
    menu.Combo1->setCurrentText(QStringLiteral("新規登録"));
    QTest::mouseClick(menu.Command1, Qt::LeftButton);
    auto *form = qobject_cast<Main *>(visibleWindow(QStringLiteral("Main")));
    if (form && !QTest::qWaitForWindowActive(form))
        return nullptr;
    return form;
}

// Types text into a box. QTest's key clicks carry Latin-1 only; Japanese
// text arrives as the input method's committed string, or, in a box that
// does not use the input method, as key presses carrying the characters.
void typeInto(QWidget *box, const QString &text)
{
    // The box has the focus, as when the user types into it.
    box->setFocus(Qt::OtherFocusReason);
    if (!box->hasFocus())
        qFatal("%s cannot take the focus", qPrintable(box->objectName()));
    for (qsizetype i = 0; i < text.size();) {
        const bool ascii = text[i].unicode() < 0x80;
        qsizetype j = i;
        while (j < text.size() && (text[j].unicode() < 0x80) == ascii)
            ++j;
        const QString run = text.mid(i, j - i);
        if (ascii) {
            QTest::keyClicks(box, run);
        } else if (box->testAttribute(Qt::WA_InputMethodEnabled)) {
            QInputMethodEvent commit;
            commit.setCommitString(run);
            QApplication::sendEvent(box, &commit);
        } else {
            for (QChar c : run)
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        i = j;
    }
}

QString textOf(QWidget *box)
{
    if (auto *combo = qobject_cast<QComboBox *>(box))
        return combo->currentText();
    return static_cast<QLineEdit *>(box)->text();
}

// A row as readable text, NULL marked, for comparisons.
QStringList shown(const Book &b)
{
    QStringList out;
    for (const auto &f : b)
        out << (f ? u'"' + *f + u'"' : QStringLiteral("NULL"));
    return out;
}

// What "新規登録" should store for eight typed texts (in focus order) and a lending value.
Book expectedRow(const QStringList &typed, const QString &lending)
{
    Book b(9);
    for (int i = 0; i < 8; ++i) {
        if (!typed[i].isEmpty())
            b[boxes[i].column] = typed[i];
    }
    if (!lending.isEmpty())
        b[lendingColumn] = lending;
    return b;
}

void fill(Main *form, const QStringList &typed)
{
    for (int i = 0; i < 8; ++i)
        typeInto(child<QWidget>(form, boxes[i].name), typed[i]);
}

QStringList boxTexts(Main *form)
{
    QStringList out;
    for (const Box &b : boxes)
        out << textOf(child<QWidget>(form, b.name));
    return out;
}

QColor indicator(Main *form) { return ui::backgroundOf(child<QLabel>(form, "Label4")); }
QColor buttonFace() { return ui::systemColor(QPalette::Button); }

const QStringList aBook = {"吾輩は猫である", "夏目漱石", "岩波書店", "1905", "9 文学", "42", "猫　名前はまだ無い", "書斎 2段目"};

// Another connection to the file holding it locked, as another program would.
class Lock {
public:
    explicit Lock(const QString &path)
    {
        sqlite3_open(path.toUtf8().constData(), &m_db);
        if (sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
            qFatal("cannot lock %s", qPrintable(path));
    }
    ~Lock() { release(); }
    void release()
    {
        if (m_db)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(m_db);
        m_db = nullptr;
    }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace

// The registration screen: what it stores, the ways of leaving it without
// storing anything, a write the database refuses, and its design.
class TestRegistration : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { app::installFontSubstitutions(); }
    // A failed case leaves no screen behind for the next one.
    void cleanup()
    {
        common::Form::setSessionEnding(false);
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String("Main"))
                delete w;
        }
    }

    void windowLooksAsDesigned()
    {
        AppDir dir;
        Menu menu;
        menu.show();
        Main *form = openFrom(menu);
        QVERIFY(form);
        QVERIFY(!menu.isVisible());
        QCOMPARE(form->windowTitle(), QStringLiteral("ブクレア"));
        QCOMPARE(form->client()->size(), QSize(594, 330));
        QVERIFY(form->client()->y() >= form->menuBar()->height());
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        const QImage icon = form->windowIcon().pixmap(32).toImage();
        QCOMPARE(icon, QIcon(QStringLiteral(":/main.ico")).pixmap(32).toImage());
        QVERIFY(icon != QIcon(QStringLiteral(":/bukurea.ico")).pixmap(32).toImage());

        auto *frame4 = child<QGroupBox>(form, "Frame4");
        QCOMPARE(frame4->title(), QStringLiteral("データ操作"));
        QCOMPARE(frame4->geometry(), ui::toPixels({5760, 2520, 3015, 2295}));
        auto *data = child<store::DataControl>(frame4, "Data1");
        QCOMPARE(data->caption(), QStringLiteral("新規登録"));
        QCOMPARE(data->geometry(), ui::toPixels({120, 1800, 2775, 375}));
        QVERIFY(data->isVisible() && !data->isEnabled());

        auto *line1 = child<QWidget>(form->client(), "Line1");
        auto *line2 = child<QWidget>(form->client(), "Line2");
        QCOMPARE(line1->geometry(), QRect(-36, 0, 653, 1));
        QCOMPARE(line2->geometry(), QRect(0, 1, 617, 1));
        QCOMPARE(line1->palette().color(QPalette::Window), ui::systemColor(QPalette::Mid));
        QCOMPARE(line2->palette().color(QPalette::Window), ui::systemColor(QPalette::Base));

        QCOMPARE(indicator(form), buttonFace());
        QCOMPARE(QApplication::focusWidget(), child<QWidget>(form, "Text7"));
        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS")) {
            fill(form, aBook);
            QTest::mouseClick(child<QPushButton>(form, "Command3"), Qt::LeftButton);
            child<QWidget>(form, "Text7")->setFocus();
            form->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/registration.png"));
        }
        form->close();
        settle();
    }

    // Every bound control and button of the panel, in focus order, with the
    // host's two buttons after it; Tab walks them and wraps round.
    void panelLooksAsDesigned()
    {
        AppDir dir;
        Menu menu;
        menu.show();
        Main *form = openFrom(menu);
        QVERIFY(form);
        enum Ime { On, Off, Untouched };
        const bool qtDefaultIme = QLineEdit().testAttribute(Qt::WA_InputMethodEnabled);
        struct Design {
            const char *name;
            ui::Twips at;
            QColor background; // invalid: not checked
            double points;
            bool bold;
            Qt::Alignment alignment;
            Ime ime;
        };
        const QColor lilac(192, 192, 255), none;
        const Qt::Alignment left = Qt::AlignLeft, centre = Qt::AlignHCenter;
        const Design table[] = {
            {"Text7", {120, 360, 5175, 375}, lilac, 12, false, left, On},
            {"Text8", {120, 360, 5175, 375}, lilac, 12, false, left, On},
            {"Text9", {120, 360, 5175, 375}, lilac, 12, false, left, On},
            {"Text3", {120, 360, 1575, 375}, lilac, 14.25, true, centre, Off},
            {"Combo1", {120, 360, 2775, 315}, QColor(192, 255, 192), 9.75, false, left, Untouched},
            {"Text6", {120, 360, 1215, 375}, lilac, 12, true, centre, Untouched},
            {"Text2", {120, 360, 3615, 375}, QColor(255, 255, 192), 12, false, left, On},
            {"Command3", {120, 360, 1335, 375}, QColor(128, 128, 255), 11.25, false, {}, Untouched},
            {"Command4", {120, 840, 1335, 375}, QColor(255, 128, 128), 11.25, false, {}, Untouched},
            {"Text1", {120, 360, 2775, 375}, QColor(255, 192, 192), 12, false, left, On},
            {"Command1", {120, 360, 2775, 780}, none, 12, false, {}, Untouched},
            {"Command2", {120, 1200, 2775, 435}, none, 12, false, {}, Untouched},
        };
        for (const Design &d : table) {
            auto *w = child<QWidget>(form, d.name);
            const QByteArray where = d.name;
            QVERIFY2(w->hasFocus() || w->isAncestorOf(QApplication::focusWidget()), where);
            QCOMPARE(w->geometry(), ui::toPixels(d.at));
            if (d.background.isValid()) {
                QVERIFY2(ui::backgroundOf(w) == d.background, where);
                QVERIFY2(w->palette().color(qobject_cast<QPushButton *>(w) ? QPalette::Button : QPalette::Base)
                             == d.background, where);
            }
            QVERIFY2(w->font().family() == ui::pGothic(), where);
            QVERIFY2(w->font().pointSizeF() == d.points, where);
            QVERIFY2(w->font().bold() == d.bold, where);
            if (auto *edit = qobject_cast<QLineEdit *>(w))
                QVERIFY2(edit->alignment() == (d.alignment | Qt::AlignVCenter), where);
            // No box limits the length of its text.
            auto *combo = qobject_cast<QComboBox *>(w);
            if (auto *edit = combo ? combo->lineEdit() : qobject_cast<QLineEdit *>(w))
                QVERIFY2(edit->maxLength() == std::numeric_limits<int>::max(), where);
            if (d.ime != Untouched || qobject_cast<QLineEdit *>(w))
                QVERIFY2(w->testAttribute(Qt::WA_InputMethodEnabled) == (d.ime == Untouched ? qtDefaultIme : d.ime == On),
                         where);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(QApplication::focusWidget(), child<QWidget>(form, "Text7"));

        struct Frame {
            const char *name, *caption;
            ui::Twips at;
        };
        const Frame frames[] = {
            {"Frame3", "書名", {120, 120, 5415, 855}},       {"Frame6", "著者名", {120, 1080, 5415, 855}},
            {"Frame7", "出版社", {120, 2040, 5415, 855}},    {"Frame8", "出版年", {120, 3000, 2295, 855}},
            {"Frame9", "分類", {2520, 3000, 3015, 855}},     {"Frame5", "蔵書番号", {120, 3960, 1455, 855}},
            {"Frame1", "検索用キーワード", {1680, 3960, 3855, 855}},
            {"Frame2", "現在の状態", {5760, 120, 3015, 1335}}, {"Frame10", "保管場所", {5760, 1560, 3015, 855}},
        };
        for (const Frame &f : frames) {
            auto *frame = child<QGroupBox>(form->client(), f.name);
            QCOMPARE(frame->title(), QString::fromUtf8(f.caption));
            QCOMPARE(frame->geometry(), ui::toPixels(f.at));
            QCOMPARE(frame->font(), ui::font(12));
            QCOMPARE(frame->focusPolicy(), Qt::NoFocus);
        }
        auto *year = child<QLabel>(form, "Label1");
        QCOMPARE(year->text(), QStringLiteral("年"));
        QCOMPARE(year->geometry(), ui::toPixels({1800, 390, 315, 315}));
        QCOMPARE(year->font(), ui::font(14.25));
        QCOMPARE(child<QLabel>(form, "Label4")->geometry(), ui::toPixels({1560, 360, 1335, 855}));
        QVERIFY(!child<QLabel>(form, "Label5")->isVisibleTo(form));
        QCOMPARE(child<QPushButton>(form, "Command3")->text(), QStringLiteral("貸出し可能"));
        QCOMPARE(child<QPushButton>(form, "Command4")->text(), QStringLiteral("貸出し中"));
        auto *combo = child<QComboBox>(form, "Combo1");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, QStringList({"0 年鑑・百科事典・図書館", "1 哲学・宗教", "2 歴史・伝記・地理",
                                     "3 社会科学・風俗・軍事・教育", "4 自然科学・医学", "5 技術・家庭",
                                     "6 産業・交通", "7 芸術・体育", "8 言語", "9 文学"}));
        form->close();
        settle();
    }

    void savesWhatWasTyped_data()
    {
        QTest::addColumn<QStringList>("typed");  // in focus order; the category by hand
        QTest::addColumn<int>("categoryItem");   // chosen from the list with the arrow keys, or -1
        QTest::addColumn<QString>("presses");    // lending buttons in order: 可 / 中
        QTest::addColumn<QString>("lending");    // stored; "" is NULL
        QStringList fromList = aBook;
        fromList[4].clear();
        QTest::newRow("chosen category, lent out") << fromList << 9 << "中" << "中";
        QTest::newRow("hand-typed category, no lending button")
            << QStringList{"ノルウェイの森", "村上春樹", "講談社", "1987", "9", "7", "小説", "居間"} << -1 << "" << "";
        QTest::newRow("lent out, then available") << aBook << -1 << "中可" << "可";
        QTest::newRow("apostrophes and wildcards")
            << QStringList{"O'Reilly's *Qt* 100%", "it''s", "[a-z]_?", "'", "分類 '*'", "1'", "%", "#"} << -1 << "可"
            << "可";
        const QString longText = QStringLiteral("あいうえお").repeated(2000);
        QTest::newRow("10,000 characters")
            << QStringList{longText, "", "", "", longText, "", longText, longText} << -1 << "" << "";
        QTest::newRow("every box empty") << QStringList(8) << -1 << "" << "";
    }
    void savesWhatWasTyped()
    {
        QFETCH(QStringList, typed);
        QFETCH(int, categoryItem);
        QFETCH(QString, presses);
        QFETCH(QString, lending);
        AppDir dir;
        MessageScript messages;
        Menu menu;
        menu.show();
        Main *form = openFrom(menu);
        QVERIFY(form);
        fill(form, typed);
        auto *combo = child<QComboBox>(form, "Combo1");
        for (int i = 0; i <= categoryItem; ++i)
            QTest::keyClick(combo, Qt::Key_Down);
        if (categoryItem >= 0)
            typed[4] = RecordPanel::categories().at(categoryItem);
        for (QChar p : presses)
            QTest::mouseClick(child<QPushButton>(form, p == u'可' ? "Command3" : "Command4"), Qt::LeftButton);
        QCOMPARE(boxTexts(form), typed);
        const QColor expectedColour = lending == QStringLiteral("可")   ? RecordPanel::availableColor()
                                      : lending == QStringLiteral("中") ? RecordPanel::lentOutColor()
                                                                        : buttonFace();
        QCOMPARE(indicator(form), expectedColour);

        QTest::mouseClick(child<QPushButton>(form, "Command1"), Qt::LeftButton);
        settle();
        QVERIFY(messages.shown.isEmpty());
        QVERIFY(menu.isVisible());
        QCOMPARE(liveWindows(QStringLiteral("Main")), 0);
        const QList<Book> rows = dir.rows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(shown(rows[0]), shown(expectedRow(typed, lending)));
    }

    void twoVisitsInARow()
    {
        AppDir dir;
        MessageScript messages;
        Menu menu;
        menu.show();
        const QStringList second = {"坊っちゃん", "夏目漱石", "", "1906", "", "43", "", ""};
        for (const QStringList &typed : {aBook, second}) {
            Main *form = openFrom(menu);
            QVERIFY(form);
            // Each visit starts empty, the earlier book nowhere in sight.
            QCOMPARE(boxTexts(form), QStringList(8));
            QCOMPARE(child<QLabel>(form, "Label5")->text(), QString());
            QCOMPARE(indicator(form), buttonFace());
            fill(form, typed);
            QTest::mouseClick(child<QPushButton>(form, "Command4"), Qt::LeftButton);
            QTest::mouseClick(child<QPushButton>(form, "Command1"), Qt::LeftButton);
            settle();
        }
        QVERIFY(messages.shown.isEmpty());
        const QList<Book> rows = dir.rows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(shown(rows[0]), shown(expectedRow(aBook, "中")));
        QCOMPARE(shown(rows[1]), shown(expectedRow(second, "中")));
    }

    // Leaving by any way but "新規登録" drops the new book.
    void leavingStoresNothing_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("menuComesBack");
        QTest::newRow("キャンセル") << "cancel" << true;
        QTest::newRow("close box") << "close" << true;
        QTest::newRow("exit command") << "exit" << false;
        QTest::newRow("session end") << "session" << false;
    }
    void leavingStoresNothing()
    {
        QFETCH(QString, way);
        QFETCH(bool, menuComesBack);
        AppDir dir;
        dir.insert({book({"1", "既存の本"})});
        MessageScript messages;
        Menu menu;
        menu.show();
        Main *form = openFrom(menu);
        QVERIFY(form);
        fill(form, aBook);
        QTest::mouseClick(child<QPushButton>(form, "Command4"), Qt::LeftButton);
        if (way == QLatin1String("cancel")) {
            QTest::mouseClick(child<QPushButton>(form, "Command2"), Qt::LeftButton);
        } else if (way == QLatin1String("close")) {
            form->close();
        } else if (way == QLatin1String("exit")) {
            form->mnuend->trigger();
        } else {
            common::Form::setSessionEnding(true);
            form->close();
            common::Form::setSessionEnding(false);
        }
        settle();
        QCOMPARE(liveWindows(QStringLiteral("Main")), 0);
        QCOMPARE(menu.isVisible(), menuComesBack);
        QCOMPARE(dir.count(), 1);
        QVERIFY(messages.shown.isEmpty());
        if (menuComesBack) {
            // The next opening starts empty, without a lending state.
            form = openFrom(menu);
            QVERIFY(form);
            QCOMPARE(boxTexts(form), QStringList(8));
            QCOMPARE(indicator(form), buttonFace());
            form->close();
            settle();
            QCOMPARE(dir.count(), 1);
        }
    }

    // A refused write is explained; the screen keeps what was typed and
    // nothing is written, so the user can put it right and retry, or cancel.
    void refusedWrite_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("retry");
        QTest::newRow("locked file, retry") << "lock" << "使用中" << true;
        QTest::newRow("locked file, cancel") << "lock" << "使用中" << false;
        QTest::newRow("duplicate number, retry") << "unique" << "UNIQUE" << true;
    }
    void refusedWrite()
    {
        QFETCH(QString, refusal);
        QFETCH(QString, reason);
        QFETCH(bool, retry);
        AppDir dir;
        const bool lock = refusal == QLatin1String("lock");
        if (!lock) {
            dir.exec(QStringLiteral("CREATE UNIQUE INDEX number ON tabel (蔵書番号)"));
            dir.insert({book({"42", "既存の本"})});
        }
        const int before = dir.count();
        MessageScript messages;
        Menu menu;
        menu.show();
        Main *form = openFrom(menu);
        QVERIFY(form);
        fill(form, aBook);
        QTest::mouseClick(child<QPushButton>(form, "Command4"), Qt::LeftButton);
        std::optional<Lock> locked;
        if (lock)
            locked.emplace(dir.dbPath());
        QTest::mouseClick(child<QPushButton>(form, "Command1"), Qt::LeftButton);
        settle();
        QCOMPARE(messages.shown.size(), 1);
        const QString text = messages.shown[0].text;
        QCOMPARE(messages.shown[0].icon, QMessageBox::Critical);
        QVERIFY2(text.contains(QStringLiteral("登録できませんでした")) && text.contains(dir.dbPath())
                     && text.contains(reason),
                 qPrintable(text));
        QCOMPARE(visibleWindow(QStringLiteral("Main")), form);
        QVERIFY(!menu.isVisible());
        QCOMPARE(boxTexts(form), aBook);
        QCOMPARE(child<QLabel>(form, "Label5")->text(), QStringLiteral("中"));
        QCOMPARE(indicator(form), RecordPanel::lentOutColor());
        locked.reset();
        QCOMPARE(dir.count(), before);

        QStringList typed = aBook;
        if (!lock) {
            auto *number = child<QLineEdit>(form, "Text6");
            QTest::keyClick(number, Qt::Key_A, Qt::ControlModifier);
            typeInto(number, QStringLiteral("43"));
            typed[5] = QStringLiteral("43");
        }
        QTest::mouseClick(child<QPushButton>(form, retry ? "Command1" : "Command2"), Qt::LeftButton);
        settle();
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(menu.isVisible());
        QCOMPARE(liveWindows(QStringLiteral("Main")), 0);
        const QList<Book> rows = dir.rows();
        QCOMPARE(rows.size(), before + (retry ? 1 : 0));
        if (retry)
            QCOMPARE(shown(rows.last()), shown(expectedRow(typed, "中")));
    }

    void dataControlCannotMove()
    {
        AppDir dir;
        dir.insert({book({"1", "一冊目", nullptr, nullptr, nullptr, nullptr, nullptr, "中"}), book({"2", "二冊目"}),
                    book({"3", "三冊目"})});
        const QList<Book> existing = dir.rows();
        MessageScript messages;
        Menu menu;
        menu.show();
        Main *form = openFrom(menu);
        QVERIFY(form);
        QCOMPARE(boxTexts(form), QStringList(8));
        typeInto(child<QLineEdit>(form, "Text7"), QStringLiteral("新しい本"));
        auto *data = child<store::DataControl>(form, "Data1");
        QVERIFY(data->isVisible() && !data->isEnabled());
        for (const char *move : {"first", "next", "last", "previous"}) {
            QTest::mouseClick(child<QToolButton>(data, move), Qt::LeftButton);
            QCOMPARE(textOf(child<QWidget>(form, "Text7")), QStringLiteral("新しい本"));
            QCOMPARE(textOf(child<QWidget>(form, "Text6")), QString());
            QCOMPARE(indicator(form), buttonFace());
        }
        QTest::mouseClick(child<QPushButton>(form, "Command1"), Qt::LeftButton);
        settle();
        QVERIFY(messages.shown.isEmpty());
        const QList<Book> rows = dir.rows();
        QCOMPARE(rows.size(), 4);
        QVERIFY(rows.mid(0, 3) == existing);
        QCOMPARE(shown(rows[3]), shown(book({nullptr, "新しい本"})));
    }
};

QTEST_MAIN(TestRegistration)
#include "test_registration.moc"
