#pragma once

#include "screens/common/messages.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <deque>
#include <optional>

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

// The visible top-level window of a class (by object name), or null.
QWidget *visibleWindow(const QString &objectName);
// Every top-level window of that name that still exists (visible or not).
int liveWindows(const QString &objectName);
// Types any text, Japanese included, into a widget as key presses
// (QTest::keyClicks handles ASCII only).
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
