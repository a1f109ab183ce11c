#include "store/rowidlist.h"

#include "store/connection.h"
#include "store/freememory.h"

#include <algorithm>
#include <sqlite3.h>

namespace store {

void RowidList::read(const Connection &connection, sqlite3_stmt *statement, const QString &what, Order order,
                     std::optional<qint64> expected, const std::function<void()> &onceReadable)
{
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
        if (onceReadable)
            onceReadable();
    }
    mapLargeBlocksApart();
    std::vector<qint64> rowids;
    // Room for every row at once: a list grown step by step holds its old
    // and its new storage at the same time, and ends up to twice as large
    // as it needs.
    if (expected && *expected > 0)
        rowids.reserve(std::size_t(*expected));
    for (; rc == SQLITE_ROW; rc = sqlite3_step(statement)) {
        if (sqlite3_column_type(statement, 0) != SQLITE_INTEGER)
            throw fileError(what, connection.path(), QStringLiteral("行番号のない行があります"));
        const qint64 rowid = sqlite3_column_int64(statement, 0);
        if (order == Order::Ascending && !rowids.empty() && rowid <= rowids.back())
            throw connection.outOfOrderError(what);
        rowids.push_back(rowid);
    }
    if (rc != SQLITE_DONE)
        connection.fail(what);
    // A search that found far fewer rows than expected gives back the room
    // it did not use.
    if (rowids.size() < rowids.capacity() / 2) {
        std::vector<qint64> exact(rowids.begin(), rowids.end());
        discard(rowids);
        rowids = std::move(exact);
    }
    discard(m_rowids);
    m_rowids = std::move(rowids);
    m_listed = true;
}

void RowidList::release()
{
    discard(m_rowids);
    m_listed = false;
}

void RowidList::discard(std::vector<qint64> &rowids)
{
    // Below a mebibyte the C library's own reuse is cheaper than a trim.
    const bool large = rowids.capacity() * sizeof(qint64) >= (std::size_t(1) << 20);
    std::vector<qint64>().swap(rowids);
    if (large)
        returnFreedMemory();
}

qsizetype RowidList::lowerBound(qint64 rowid) const
{
    return std::lower_bound(m_rowids.begin(), m_rowids.end(), rowid) - m_rowids.begin();
}

void RowidList::remove(qint64 rowid)
{
    if (const auto at = std::find(m_rowids.begin(), m_rowids.end(), rowid); at != m_rowids.end())
        m_rowids.erase(at);
}

} // namespace store
