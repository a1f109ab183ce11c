#pragma once

#include "app/navigation.h"
#include "screens/common/messages.h"
#include "screens/menu/startmenu.h"
#include "support/appdir.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <deque>
#include <optional>

class QAbstractButton;

namespace testsupport {

// Answers the message boxes in place of a user and records them.
class MessageScript {
public:
    MessageScript();
    ~MessageScript();
    // Answers for the next boxes, in order; a box without one gets its default.
    void answer(QMessageBox::StandardButton b) { m_answers.push_back(b); }
    QList<screens::Message> shown;

private:
    std::deque<QMessageBox::StandardButton> m_answers;
};

// Records the documents handed to the desktop shell.
class ShellFake {
public:
    ShellFake();
    ~ShellFake();
    QList<QUrl> opened;
};

// One message box as a line of text (icon, title, text, buttons, the default
// button), to compare a box shown with the one expected in a single check.
QString describe(const screens::Message &m);
// The notice of a search without a hit, shared by the list and edit screens.
screens::Message notFound();

// Opens a data screen as the user does: the choice typed into the start
// menu's box, then "OK". Returns the screen once it is active, or null.
QWidget *openFromMenu(screens::StartMenu &menu, const QString &choice);
// The start menu's choice that opens the screen of a class ("Main",
// "screens::EditScreen", "db"...).
QString menuChoiceFor(const char *className);
template <typename T> T *openFromMenu(screens::StartMenu &menu)
{
    return qobject_cast<T *>(openFromMenu(menu, menuChoiceFor(T::staticMetaObject.className())));
}

// What most screen tests start from: an application directory holding the
// books given, the message boxes answered by script, the application's
// navigator with its start menu, and a data screen of class T opened from it.
template <typename T> struct Opened {
    AppDir dir;
    MessageScript messages;
    app::Navigator navigator;
    screens::StartMenu &menu = navigator.menu();
    T *screen = nullptr;
    explicit Opened(const QList<Book> &books = {}, const QString &choice = QString())
    {
        dir.insert(books);
        screen = qobject_cast<T *>(
            openFromMenu(menu, choice.isEmpty() ? menuChoiceFor(T::staticMetaObject.className()) : choice));
        if (!screen)
            qFatal("the screen %s did not open", T::staticMetaObject.className());
    }
    // Opens the screen again from the start menu after it was left.
    T *reopen() { return screen = openFromMenu<T>(menu); }
};

// Deletes every data screen still there, without running its close
// handling, so that a failed case leaves none behind for the next.
void closeScreens();

// Clicks a button with the mouse: one given, or one named under parent.
void click(QAbstractButton *button);
void click(QObject *parent, const char *buttonName);

// The object names of the focus widget and of the widgets that Tab moves
// the focus to, press after press.
QStringList tabWalk(int presses);

// The visible top-level window of a class (by object name), or null.
QWidget *visibleWindow(const QString &objectName);
// Every top-level window of that name that still exists (visible or not).
int liveWindows(const QString &objectName);
// Types any text into a widget, which takes the focus first, as a user does:
// ASCII as key clicks, other text as the input method's committed string
// where the widget uses the input method, else as key presses carrying the
// characters (QTest::keyClicks handles Latin-1 only).
void typeText(QWidget *w, const QString &text);
// Lets deferred deletions run.
void settle();

// Finds a named child or fails the test.
template <typename T> T *child(QObject *parent, const char *name)
{
    T *c = parent ? parent->findChild<T *>(QLatin1String(name)) : nullptr;
    if (!c)
        qFatal("no child %s", name);
    return c;
}

} // namespace testsupport
