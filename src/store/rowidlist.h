#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <span>
#include <vector>

struct sqlite3_stmt;

namespace store {

class Connection;

// The row numbers of a record set, in its order: what lets any of its rows
// be reached by position, however long the list.
class RowidList {
public:
    // Ascending: the table's own order, in which row numbers can only
    // ascend; any other order is a damaged file and refused.
    enum class Order { Any, Ascending };

    // Replaces the list with the first column of every row of `statement`,
    // stepped to its end. `expected`: how many rows there probably are (room
    // for them is made at once). `onceReadable` is called when the first
    // step has succeeded, before any row number is kept. Throws
    // store::Error saying `what` failed; the list is then unchanged.
    void read(const Connection &connection, sqlite3_stmt *statement, const QString &what, Order order,
              std::optional<qint64> expected, const std::function<void()> &onceReadable = {});

    // Whether the list has been read (and not released since).
    bool listed() const { return m_listed; }
    qsizetype size() const { return qsizetype(m_rowids.size()); }
    // How many row numbers the memory held can take.
    std::size_t capacity() const { return m_rowids.capacity(); }
    bool empty() const { return m_rowids.empty(); }
    qint64 operator[](qsizetype position) const { return m_rowids[std::size_t(position)]; }
    std::span<const qint64> all() const { return m_rowids; }
    // In an ascending list: the position of `rowid`, or of the first row
    // after it.
    qsizetype lowerBound(qint64 rowid) const;

    void append(qint64 rowid) { m_rowids.push_back(rowid); }
    // Removes `rowid` where it is listed.
    void remove(qint64 rowid);
    // Gives back the list's memory; the list is no longer listed.
    void release();

private:
    // Lets go of `rowids`' memory, handing it back to the system when the
    // list was large.
    static void discard(std::vector<qint64> &rowids);

    std::vector<qint64> m_rowids;
    bool m_listed = false;
};

} // namespace store
