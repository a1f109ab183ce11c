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

// Every row of the book table of any collection file, in rowid order.
QList<Book> rowsOf(const QString &dbPath);
// Runs SQL on any database file, making it where there is none.
void execOn(const QString &dbPath, const QString &sql);

// Another program holding the database file locked (`BEGIN EXCLUSIVE`): no
// one else can read or write it until it is released or destroyed.
class FileLock {
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    void release();
    // Releases the lock from another thread after `delay`, while the
    // program's own thread waits for it.
    void releaseAfter(std::chrono::milliseconds delay);

private:
    sqlite3 *m_db = nullptr;
    std::thread m_releaser;
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

} // namespace testsupport

// Lets QCOMPARE print a book that differs: its fields quoted, NULL as NULL.
char *toString(const testsupport::Book &book);
