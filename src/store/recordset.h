#pragma once

#include "store/connection.h"
#include "store/recordsource.h"

#include <QHash>
#include <QObject>
#include <QVariant>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

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
// blocks as they are needed and kept in a small cache.
//
// The table itself in its own order (RecordSource::wholeTable()) reads, on
// opening, only its first row: a screen that shows one book at a time then
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
    using Row = std::array<QVariant, FieldCount>;

    // Runs the record source; throws store::Error.
    RecordSet(std::shared_ptr<Connection> connection, const RecordSource &source);
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
    struct Block;
    void readRows(Block &block, int first, int from) const;
    // The table in its own order: the rowids not read yet.
    bool lazy() const { return m_tableOrder && !m_listed; }
    void listRowids() const;
    // Where the current row of the table in its own order is: a row
    // number, or, after a move that could not read the file, the way to
    // find it: so many rows from the first or the last, or after or before
    // a known row.
    struct Locator {
        enum Kind { Row, First, Last, After, Before } kind = Row;
        qint64 rowid = 0; // Row: the row; After, Before: the known row
        int steps = 0;    // First, Last: rows from that end; After, Before: rows from the known row
    };
    static Locator moved(const Locator &from, int by);
    std::optional<qint64> find(const Locator &at) const;
    void moveLazily(Locator::Kind to);
    qint64 currentRowid() const;
    void checkOneRowChanged(const QString &what) const;
    // The row as the file holds it now, within the caller's transaction;
    // nothing when there is no such row.
    std::optional<std::array<StoredValue, FieldCount>> storedRow(qint64 rowid, Row *fields = nullptr) const;
    // The row the user is looking at, read from the file within the write
    // transaction `what`: throws RowChangedError unless it is still exactly
    // as readCurrent() found it. Returns its row number.
    qint64 requireUnchanged(const QString &what) const;
    void requireCurrent(const QString &what) const;
    void setCurrent(int position);
    void forgetCache() const;
    std::shared_ptr<Connection> m_connection;
    mutable std::vector<qint64> m_rowids;
    int m_current = -1;
    // The table in its own order: whether the rowids have been read, where
    // the current row is, its fields once read, and the count once known.
    bool m_tableOrder = false;
    mutable bool m_listed = true;
    mutable Locator m_at;
    mutable std::optional<Row> m_currentRow;
    // The current row as readCurrent() last found it in the file: its row
    // number, and its fields unless it was missing.
    struct Seen {
        qint64 rowid = 0;
        std::optional<std::array<StoredValue, FieldCount>> fields;
    };
    std::optional<Seen> m_seen;
    mutable std::optional<int> m_count;
    // Every row in order, for readAll(); the pattern it binds, if any.
    QString m_stream;
    std::optional<QString> m_pattern;
    EditMode m_mode = EditMode::None;
    qint64 m_version = 0; // the file's version when opened

    static constexpr int BlockRows = 256;
    static constexpr size_t MaxBlocks = 64;
    struct Block {
        std::vector<Row> rows;
        std::vector<bool> read; // rows not read yet, or not readable, are false
        quint64 lastUse = 0;
    };
    mutable std::unordered_map<int, Block> m_cache;
    mutable quint64 m_useClock = 0;
    mutable std::unique_ptr<Prepared> m_fetch;
};

} // namespace store
