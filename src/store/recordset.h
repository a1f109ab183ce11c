#pragma once

#include "store/connection.h"
#include "store/recordsource.h"
#include "store/rowcache.h"
#include "store/rowidlist.h"
#include "store/tablecursor.h"

#include <QHash>
#include <QObject>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace store {

// One row as the engine hands it out, for a reader that takes every row in
// order (RecordSet::readAll()); valid only during the call it is given to.
class FieldReader {
public:
    enum class Type { Null, Integer, Real, Text };
    FieldReader(sqlite3_stmt *statement, int firstColumn) : m_statement(statement), m_first(firstColumn) {}
    Type type(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;
    // A text as the file holds it, in UTF-8.
    QByteArrayView utf8(int column) const;

private:
    sqlite3_stmt *m_statement; // null: a row without values
    int m_first;
};

// One field exactly as the file holds it: the engine's storage class and
// its bytes (a number's own bytes, a text's or a blob's as stored, invalid
// UTF-8 included), so that NULL, "", a blob and an unreadable text are told
// apart where a QString would make them equal.
struct StoredValue {
    int type = 0; // SQLITE_NULL, SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT or SQLITE_BLOB
    QByteArray bytes;
    bool operator==(const StoredValue &) const = default;
};

// A correction or a deletion found that the book on screen is no longer
// in the file as it was shown: another program changed or deleted it.
// Nothing was written.
class RowChangedError : public Error {
public:
    using Error::Error;
};

// The rows of one record source (see RecordSource), opened on a connection.
//
// A search or a sort reads, on opening, only the rowids of its result, in
// the result's order: that gives the true count at once and lets any row be
// reached, however large the result. Row contents are fetched by rowid in
// blocks as they are needed and kept in a small cache (RowCache).
//
// The table itself in its own order (RecordSource::wholeTable()) reads, on
// opening, only its first row (TableCursor): a screen that shows one book at a time then
// costs the same for ten books as for a million. Moves go from the current
// row to its neighbour in the table, the count is the connection's (counted
// once, see Connection::tableCount()), and the rowids are read only when a
// row is asked for by its position (row(), moveTo()).
//
// Operations without a current row: moves are no-ops, field texts read as
// empty, and edit(), update() of an edited row and deleteCurrent() throw
// store::Error (the screens check hasCurrent() first).
class RecordSet : public QObject {
    Q_OBJECT
public:
    enum class EditMode { None, Editing, Adding };
    using Row = store::Row;

    // Runs the record source; throws store::Error. `onceReadable` is called
    // as soon as the file has been found readable for it, before its rows
    // are listed: a caller that replaces another record set lets that one's
    // rows go there (releaseRows()), so that the two lists are never in
    // memory together, and the other set stays whole when the file cannot
    // be read at all.
    RecordSet(std::shared_ptr<Connection> connection, const RecordSource &source,
              const std::function<void()> &onceReadable = {});
    ~RecordSet() override;

    // The number of rows; for the table in its own order, counting them may
    // read the table and throw store::Error.
    int recordCount() const;
    int absolutePosition() const { return m_current; } // zero-based; -1 without a current row
    bool hasCurrent() const { return m_current >= 0; }

    // Moves; for the table in its own order they read the row moved to and
    // throw store::Error when it cannot be read.
    void moveFirst();
    void movePrevious();
    void moveNext();
    void moveLast();
    void moveTo(int position);

    // A field of any row: a null QVariant for NULL, qlonglong or double for
    // numbers, QString for text. A row that cannot be read (the file is
    // locked by another program, damaged or gone) throws store::Error and
    // is tried again on the next call; a row that another program deleted
    // since the record set opened reads as empty.
    const Row &row(int position) const;
    QString text(int position, int column) const;
    // A field of the current row by name; NULL and no current row read "".
    // Throws like row().
    QString fieldText(const QString &name) const;

    // Hands every row to `visit`, in order from the first, until it returns
    // false; the current row does not move. Throws store::Error when a row
    // cannot be read.
    void readAll(const std::function<bool(const FieldReader &)> &visit) const;
    // The same with each row's position, in the order that reads them
    // fastest: a sorted list's rows come in the table's own order (the list
    // was sorted when it was made; its statement would sort every row, with
    // all its fields, again), any other record set's in its order. Every
    // position is handed out once; a row deleted meanwhile as a row without
    // values.
    void readAllByPosition(const std::function<bool(qsizetype, const FieldReader &)> &visit) const;

    // Lets go of the row numbers and the rows read so far; the current row
    // keeps its place. They are read again, as the record source gives them
    // then, when next needed.
    void releaseRows();

    // Whether the file is no longer the one this record set was opened on:
    // replaced (renamed, deleted, another file in its place) or written by
    // another program since, which may have rewritten it entirely, so
    // that the rows listed may now be other books. Throws store::Error.
    bool fileChanged() const;

    EditMode editMode() const { return m_mode; }
    // Starts a new empty pending row; bound controls are emptied.
    void addNew();
    // Reads the current row afresh from the file: the fields that
    // fieldText() gives from now on, and the row a correction or a deletion
    // expects to find (see update()). Throws like row().
    void readCurrent();
    // Makes the current row editable.
    void edit();
    // Writes the pending row (new or edited) with the values given by
    // field name, as one transaction: when it returns the change is on
    // disk. Fields not given keep their value (a new row: NULL); empty
    // texts are stored as NULL; a number the column cannot hold exactly is
    // refused (see fieldValue()). A refused write leaves the row pending.
    //
    // An edited row is written only if, inside the same write transaction,
    // the file still holds it exactly as it was last read by readCurrent()
    // (all nine fields, storage class and bytes): a book another program
    // changed or deleted meanwhile, or a row number now taken by another
    // book, throws RowChangedError and nothing is written.
    void update(const QHash<QString, QString> &values);
    // Drops the pending row; nothing is written.
    void cancelUpdate();
    // Removes the current row from the table; afterwards there is no
    // current row until the next move. Exactly that row, as it was last
    // read, or nothing (RowChangedError, as for update()).
    void deleteCurrent();

signals:
    // Another row became current (every move that leaves a current row).
    void repositioned();
    // The pending row started or was dropped: bound controls must redisplay.
    void pendingChanged();

private:
    class Fetch;
    using StoredRow = std::array<StoredValue, FieldCount>;
    // The table in its own order, its row numbers not read: moves go
    // through the cursor.
    bool lazy() const { return m_source.isWholeTable() && !m_rowids.listed(); }
    // Reads the row numbers where they are not in memory.
    void list(const std::function<void()> &onceReadable = {}) const;
    void moveInTable(TableCursor::Step step);
    qint64 currentRowid() const;
    void checkOneRowChanged(const QString &what) const;
    // The row the user is looking at, read from the file within the write
    // transaction `what`: throws RowChangedError unless it is still exactly
    // as readCurrent() found it. Returns its row number.
    qint64 requireUnchanged(const QString &what) const;
    void requireCurrent(const QString &what) const;
    void setCurrent(int position);
    void forgetCache() const;

    std::shared_ptr<Connection> m_connection;
    RecordSource m_source;
    std::unique_ptr<Fetch> m_fetch;
    EditMode m_mode = EditMode::None;
    qint64 m_version = 0; // the file's version when opened
    // Every row in order, for readAll().
    QString m_stream;
    // The table in its own order, while its row numbers are not read.
    TableCursor m_cursor;
    // The current row as readCurrent() last found it in the file: its row
    // number, and its fields unless it was missing.
    struct Seen {
        qint64 rowid = 0;
        std::optional<StoredRow> fields;
    };
    std::optional<Seen> m_seen;

    // What has been read so far; a read of a const record set may add to
    // it. Listing the table's row numbers finds the current row's position
    // anew, and makes the count that of the list.
    mutable RowidList m_rowids;
    mutable int m_current = -1;
    mutable std::optional<int> m_count; // the table in its own order, once counted
    mutable RowCache m_cache;
    mutable std::optional<Row> m_currentRow; // the current row's fields, once read
};

} // namespace store
