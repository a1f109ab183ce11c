#pragma once

#include "store/booktable.h"

#include <QString>
#include <optional>

namespace store {

enum class Direction { Ascending, Descending };

// Which books a record set holds, and in what order, as a screen asks for
// them: every book in the table's own order, the books whose field matches a
// pattern (the store's LIKE, with * ? # [ ] as wildcards), the books ordered
// by a field, or a search in an order. A value, not a statement: only the
// store writes SQL, and a pattern reaches the engine bound, never as text of
// a statement, so whatever the user typed is searched for as typed.
struct RecordSource {
    std::optional<Field> filter; // none: every book
    QString pattern;             // what the filter field must match
    std::optional<Field> order;  // none: the table's own order
    Direction direction = Direction::Ascending;

    // The whole table in its own order (the order of its row numbers).
    static RecordSource wholeTable() { return {}; }
    // The books whose `field` matches `pattern`, in the table's own order.
    static RecordSource search(Field field, const QString &pattern)
    {
        return {field, pattern, std::nullopt, Direction::Ascending};
    }
    // Every book, ordered by `field`; ties keep the table's own order.
    static RecordSource sorted(Field field, Direction direction) { return {std::nullopt, {}, field, direction}; }
    // This source's books ordered by `field`.
    RecordSource orderedBy(Field field, Direction by) const { return {filter, pattern, field, by}; }

    bool isWholeTable() const { return !filter && !order; }
    bool operator==(const RecordSource &) const = default;
};

} // namespace store
