#pragma once

#include "screens/common/messages.h"
#include "screens/menu/menu.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <deque>
#include <optional>

class QAbstractButton;
struct sqlite3;

namespace testsupport {

// One book as nine optional texts in the table's field order; nullopt is NULL.
using Book = QList<std::optional<QString>>;
Book book(std::initializer_list<const char *> fields); // nullptr is NULL

// A temporary application directory with a BR.mdb holding the book table;
// the application module points at it for the fixture's lifetime.
class AppDir {
public:
    AppDir();
    ~AppDir();
    QString path() const { return m_dir.path(); }
    QString dbPath() const { return m_dir.filePath(QStringLiteral("BR.mdb")); }

    // Direct access to the file, beside the application, to prepare and check it.
    void insert(const QList<Book> &books) const;
    void exec(const QString &sql) const;
    // Every row in rowid order; `where` narrows it ("" for all).
    QList<Book> rows(const QString &where = QString()) const;
    int count() const;

private:
    QTemporaryDir m_dir;
};

// Every row of the book table of any collection file, in rowid order.
QList<Book> rowsOf(const QString &dbPath);
// Runs SQL on any database file, making it where there is none.
void execOn(const QString &dbPath, const QString &sql);

// Another connection holding a collection file locked, as another program
// would: no one else can read or write it until the lock is dropped.
class FileLock {
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    sqlite3 *m_db = nullptr;
};

// A folder where writing fails as it does on a real disk: one that is full,
// or one that cannot be written to. As root (who may write anywhere) it is a
// small tmpfs mounted in a mount namespace of the test process's own; else
// the folder's permissions make it read-only, and a full one cannot be made.
class FaultyFolder {
public:
    enum Kind { Full, ReadOnly };
    // Makes the folder; files can still be put into it until seal().
    FaultyFolder(const QString &path, Kind kind);
    ~FaultyFolder();
    FaultyFolder(const FaultyFolder &) = delete;
    FaultyFolder &operator=(const FaultyFolder &) = delete;
    // False where this system cannot make such a folder (skip the case).
    bool available() const { return m_available; }
    // From now on writing fails.
    void seal();

private:
    QString m_path;
    Kind m_kind;
    bool m_mounted = false;
    bool m_available = false;
};

// Answers the message boxes in place of a user and records them.
class MessageScript {
public:
    MessageScript();
    ~MessageScript();
    // Answers for the next boxes, in order; a box without one gets its default.
    void answer(QMessageBox::StandardButton b) { m_answers.push_back(b); }
    QList<common::Message> shown;

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

// One message box as a line of text (icon, title, text, buttons), to compare
// a box shown with the one expected in a single check.
QString describe(const common::Message &m);
// The notice of a search without a hit, shared by the list and edit screens.
common::Message notFound();

// Opens a data screen as the user does: the choice typed into the start
// menu's box, then "OK". Returns the screen once it is active, or null.
QWidget *openFromMenu(Menu &menu, const QString &choice);
// The start menu's choice that opens the screen of a class ("Main", "Main2", "db").
QString menuChoiceFor(const char *className);
template <typename T> T *openFromMenu(Menu &menu)
{
    return qobject_cast<T *>(openFromMenu(menu, menuChoiceFor(T::staticMetaObject.className())));
}

// What most screen tests start from: an application directory holding the
// books given, the message boxes answered by script, the start menu, and a
// data screen of class T opened from it.
template <typename T> struct Opened {
    AppDir dir;
    MessageScript messages;
    Menu menu;
    T *screen = nullptr;
    explicit Opened(const QList<Book> &books = {}, const QString &choice = QString())
    {
        dir.insert(books);
        screen = qobject_cast<T *>(openFromMenu(
            menu, choice.isEmpty() ? menuChoiceFor(T::staticMetaObject.className()) : choice));
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

// Lets QCOMPARE print a book that differs: its fields quoted, NULL as NULL.
char *toString(const testsupport::Book &book);
