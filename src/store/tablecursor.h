#pragma once

#include <QtGlobal>
#include <optional>

namespace store {

class Connection;

// The current row of the table in its own order, found without reading the
// table's row numbers: moving to a neighbour, the first or the last row is
// one lookup, so a screen that shows one book at a time costs the same for
// ten books as for a million.
//
// A move that cannot read the file is still made: the cursor keeps the way
// to the row (so many rows from an end, or after or before a known row) and
// looks for it when the row is next asked for.
class TableCursor {
public:
    enum class Step { First, Last, Next, Previous };
    enum class Outcome {
        Moved,    // the row was found
        NoRow,    // there is none there (past an end, or no rows at all): nothing changed
        Deferred, // the file could not be read: the row is looked for later
    };

    explicit TableCursor(const Connection &connection) : m_connection(connection) {}

    // Finds the first row; false when the table is empty. Throws
    // store::Error.
    bool start();
    Outcome move(Step step);
    // Makes `rowid` the current row.
    void setRow(qint64 rowid) { m_at = {Locator::Row, rowid, 0}; }
    // The current row's number. After a deferred move the row is looked
    // for now, and kept; fewer rows than expected (deleted meanwhile): the
    // nearest end. Throws store::Error.
    qint64 rowid() const;

private:
    struct Locator {
        enum Kind { Row, First, Last, After, Before } kind = Row;
        qint64 rowid = 0; // Row: the row; After, Before: the known row
        int steps = 0;    // First, Last: rows from that end; After, Before: rows from the known row
    };
    static Locator moved(const Locator &from, int by);
    // The row a locator points at; nothing when there is no such row.
    std::optional<qint64> find(const Locator &at) const;

    const Connection &m_connection;
    // Resolved by rowid(), a read that may find a deferred row.
    mutable Locator m_at;
};

} // namespace store
