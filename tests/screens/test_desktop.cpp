#include "screens/common/about.h"
#include "screens/common/messages.h"
#include "screens/list/listscreen.h"
#include "support/testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace testsupport;
using namespace screens;

namespace {

// Every push button of each window, by object name.
const QMap<QString, QStringList> buttonsOf = {
    {"Menu", {"Command1", "Command3"}},
    {"Main", {"Command3", "Command4", "Command1", "Command2"}},
    {"Main2", {"Command3", "Command4", "Command5", "Command6", "Command2", "Command1", "cmdrep", "cmdadd"}},
    {"db",
     {"Command14", "Command12", "Command13", "Command6", "Command8", "Command10", "Command7", "Command9", "Command11",
      "Command15", "Command5", "Command2", "Command3", "Command4", "Command1"}},
};

// The start menu or a data screen opened from it, on two books, with the
// message boxes and the shell answered by fakes.
struct Window {
    AppDir dir;
    MessageScript messages;
    ShellFake shell;
    app::Navigator navigator;
    QWidget *window = nullptr;
    explicit Window(const QString &name)
    {
        dir.insert({book({"1", "吾輩は猫である", "夏目漱石", "大倉書店", "1905", "9 文学", "書斎", "可", "猫"}),
                    book({"2", "坊っちゃん", "夏目漱石", nullptr, "1906"})});
        if (name == QLatin1String("Menu")) {
            navigator.menu().show();
            if (QTest::qWaitForWindowActive(&navigator.menu()))
                window = &navigator.menu();
        } else {
            window = openFromMenu(navigator.menu(), menuChoiceFor(qPrintable(name)));
        }
        if (!window)
            qFatal("%s did not open", qPrintable(name));
    }
};

void pressEnter(QWidget *w, Qt::Key key)
{
    QTest::keyClick(w, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
}

} // namespace

// What a user of a Japanese desktop expects of any window: Qt's own texts in
// Japanese, and Enter pressing the button that has the focus, and nothing
// else.
class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeScreens(); }

    // A real confirmation box (no script answers it): Qt's buttons in
    // Japanese; Enter presses the button with the focus, the default one
    // first and the other one after Tab.
    void confirmationBoxIsJapaneseAndTakesEnter_data()
    {
        QTest::addColumn<int>("tabs");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("yes");
        QTest::newRow("Return on はい") << 0 << int(Qt::Key_Return) << true;
        QTest::newRow("Tab, keypad Enter on いいえ") << 1 << int(Qt::Key_Enter) << false;
    }
    void confirmationBoxIsJapaneseAndTakesEnter()
    {
        QFETCH(int, tabs);
        QFETCH(int, key);
        QFETCH(bool, yes);
        QStringList buttons;
        QString pressed;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !QTest::qWaitForWindowActive(box))
                return;
            for (QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::No})
                buttons << (box->button(b) ? box->button(b)->text() : QString());
            if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS"))
                box->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/confirm.png"));
            for (int i = 0; i < tabs; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (auto *focused = qobject_cast<QPushButton *>(QApplication::focusWidget()))
                pressed = focused->text();
            pressEnter(QApplication::focusWidget(), Qt::Key(key));
        });
        // Should the box stay open, it is closed so that the test ends.
        QTimer::singleShot(5000, this, [] {
            if (QWidget *w = QApplication::activeModalWidget())
                w->close();
        });
        const bool answer =
            screens::confirm(nullptr, QStringLiteral("データ修正"), QStringLiteral("このデータを修正します。"));
        QCOMPARE(buttons, QStringList({"はい(&Y)", "いいえ(&N)"}));
        QCOMPARE(pressed, buttons.value(yes ? 0 : 1));
        QCOMPARE(answer, yes);
    }

    // The context menu of a text box (the search box here; every text box
    // and combo box has the same one).
    void textBoxMenuIsJapanese()
    {
        Opened<ListScreen> o;
        std::unique_ptr<QMenu> menu(o.screen->Text1->createStandardContextMenu());
        QStringList items;
        for (QAction *a : menu->actions()) {
            if (!a->isSeparator())
                items << a->text().section(u'\t', 0, 0); // without the shortcut
        }
        QCOMPARE(items, QStringList({"元に戻す(&U)", "やり直す(&R)", "切り取り(&T)", "コピー(&C)", "貼り付け(&P)",
                                     "削除", "すべてを選択"}));
    }

    // Every button of every window, reached by the focus, is pressed by
    // Return and by the keypad's Enter, once however long the key is held.
    void enterPressesTheFocusedButton_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        for (auto it = buttonsOf.begin(); it != buttonsOf.end(); ++it) {
            for (const QString &b : it.value()) {
                QTest::addRow("%s %s Return", qPrintable(it.key()), qPrintable(b))
                    << it.key() << b << int(Qt::Key_Return);
                QTest::addRow("%s %s Enter", qPrintable(it.key()), qPrintable(b))
                    << it.key() << b << int(Qt::Key_Enter);
            }
        }
    }
    void enterPressesTheFocusedButton()
    {
        QFETCH(QString, window);
        QFETCH(QString, button);
        QFETCH(int, key);
        Window w(window);
        QPointer<QPushButton> b = child<QPushButton>(w.window, qPrintable(button));
        QSignalSpy clicked(b.data(), &QAbstractButton::clicked);
        b->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), b.data());
        pressEnter(b, Qt::Key(key));
        QCOMPARE(clicked.count(), 1);
        if (b && b->hasFocus()) { // still there (most buttons leave or open nothing)
            QKeyEvent held(QEvent::KeyPress, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier, QString(),
                           true);
            QApplication::sendEvent(b, &held);
            QCOMPARE(clicked.count(), 1);
        }
    }

    // No button is a default or cancel button: Return, Enter and Escape in
    // every text box and combo box (the search box, the number box, the
    // start menu's choice box...) press nothing and close nothing.
    void keysInTextBoxesPressNothing_data()
    {
        QTest::addColumn<QString>("window");
        for (const QString &w : buttonsOf.keys())
            QTest::newRow(qPrintable(w)) << w;
    }
    void keysInTextBoxesPressNothing()
    {
        QFETCH(QString, window);
        Window w(window);
        QStringList names;
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (QPushButton *b : w.window->findChildren<QPushButton *>()) {
            names << b->objectName();
            QVERIFY(!b->isDefault() && !b->autoDefault());
            spies.push_back(std::make_unique<QSignalSpy>(b, &QAbstractButton::clicked));
        }
        names.sort();
        QStringList listed = buttonsOf.value(window);
        listed.sort();
        QCOMPARE(names, listed); // the table above knows every button

        int boxes = 0;
        for (QLineEdit *e : w.window->findChildren<QLineEdit *>()) {
            if (!e->isVisible() || !e->isEnabled())
                continue;
            ++boxes;
            e->setFocus(Qt::TabFocusReason);
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                pressEnter(e, key);
        }
        QVERIFY(boxes > 0);
        for (const auto &spy : spies)
            QCOMPARE(spy->count(), 0);
        QVERIFY(w.window->isVisible());
        QVERIFY(w.messages.shown.isEmpty());
        QVERIFY(w.shell.opened.isEmpty());
    }

    // The version dialog has no button: Escape does not close it, its close
    // command does.
    void escapeLeavesTheVersionDialogOpen()
    {
        frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(about.isVisible());
        QVERIFY(about.close());
        QVERIFY(!about.isVisible());
    }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
