#pragma once

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <optional>

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

private:
    QTemporaryDir m_dir;
};

} // namespace testsupport

// Lets QCOMPARE print a book that differs: its fields quoted, NULL as NULL.
char *toString(const testsupport::Book &book);
