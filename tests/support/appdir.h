#pragma once

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

struct sqlite3;

// Test data beside the application: a temporary application directory with
// a book database, prepared and checked directly in the file.
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

    // Damages the file as a failing disk or a careless program would.
    int pageSize() const;
    void truncateFile(qint64 size) const;
    // Overwrites `size` bytes at `offset` with bytes of a fixed random sequence.
    void scramble(qint64 offset, qint64 size, quint32 seed = 1) const;

private:
    QTemporaryDir m_dir;
};

// Another program holding the database file locked for writing
// (`BEGIN EXCLUSIVE`) until it is released or destroyed.
class FileLock {
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    void release();
    // Releases the lock from another thread after `delay`; `atRelease`
    // runs there just before (to look at the program while it waits).
    void releaseAfter(std::chrono::milliseconds delay, std::function<void()> atRelease = {});

private:
    sqlite3 *m_db = nullptr;
    std::thread m_releaser;
};

} // namespace testsupport

// Lets QCOMPARE print a book that differs: its fields quoted, NULL as NULL.
char *toString(const testsupport::Book &book);
