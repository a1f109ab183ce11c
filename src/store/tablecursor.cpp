#include "store/tablecursor.h"

#include "store/connection.h"

#include <sqlite3.h>

namespace store {

bool TableCursor::start()
{
    const std::optional<qint64> first = find({Locator::First, 0, 0});
    if (first)
        setRow(*first);
    return first.has_value();
}

TableCursor::Outcome TableCursor::move(Step step)
{
    Locator target;
    switch (step) {
    case Step::First: target = {Locator::First, 0, 0}; break;
    case Step::Last: target = {Locator::Last, 0, 0}; break;
    case Step::Next: target = moved(m_at, +1); break;
    case Step::Previous: target = moved(m_at, -1); break;
    }
    try {
        const std::optional<qint64> found = find(target);
        if (!found)
            return Outcome::NoRow;
        setRow(*found);
        return Outcome::Moved;
    } catch (const Error &) {
        m_at = target;
        return Outcome::Deferred;
    }
}

std::optional<qint64> TableCursor::find(const Locator &at) const
{
    const QString &id = m_connection.rowid();
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(id, tableName());
    const bool from = at.kind == Locator::Row || at.kind == Locator::After || at.kind == Locator::Before;
    if (from) {
        const char *op = at.kind == Locator::Row ? "=" : at.kind == Locator::After ? ">" : "<";
        sql += QStringLiteral(" WHERE %1 %2 ?1").arg(id, QLatin1String(op));
    }
    const bool backwards = at.kind == Locator::Last || at.kind == Locator::Before;
    const int skip = (at.kind == Locator::After || at.kind == Locator::Before) ? at.steps - 1 : at.steps;
    sql += QStringLiteral(" ORDER BY %1 %2 LIMIT 1 OFFSET %3")
               .arg(id, backwards ? QStringLiteral("DESC") : QStringLiteral("ASC"))
               .arg(std::max(0, skip));
    Prepared q(m_connection.prepare(sql));
    if (from)
        sqlite3_bind_int64(q.get(), 1, at.rowid);
    const int rc = sqlite3_step(q.get());
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        m_connection.fail(QStringLiteral("データを読めません。"));
    return sqlite3_column_int64(q.get(), 0);
}

TableCursor::Locator TableCursor::moved(const Locator &from, int by)
{
    switch (from.kind) {
    case Locator::Row:
        return by > 0 ? Locator{Locator::After, from.rowid, by} : Locator{Locator::Before, from.rowid, -by};
    case Locator::First: return {Locator::First, 0, std::max(0, from.steps + by)};
    case Locator::Last: return {Locator::Last, 0, std::max(0, from.steps - by)};
    case Locator::After:
    case Locator::Before: {
        const int steps = from.kind == Locator::After ? from.steps + by : -from.steps + by;
        if (steps == 0)
            return {Locator::Row, from.rowid, 0};
        return steps > 0 ? Locator{Locator::After, from.rowid, steps} : Locator{Locator::Before, from.rowid, -steps};
    }
    }
    return from;
}

qint64 TableCursor::rowid() const
{
    if (m_at.kind != Locator::Row) {
        std::optional<qint64> found = find(m_at);
        if (!found) {
            const bool towardsFirst = m_at.kind == Locator::Before || m_at.kind == Locator::Last;
            found = find({towardsFirst ? Locator::First : Locator::Last, 0, 0});
        }
        if (!found)
            throw Error(QStringLiteral("データを読めません: 表にデータがありません。"));
        m_at = {Locator::Row, *found, 0};
    }
    return m_at.rowid;
}

} // namespace store
