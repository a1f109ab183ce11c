#pragma once

#include "store/booktable.h"
#include "store/connection.h"

#include <QString>
#include <array>
#include <functional>

namespace store {

// One book to add: its nine fields in the table's order, as text; an empty
// text is stored as NULL, a number where the column converts numbers.
using BookTexts = std::array<QString, FieldCount>;

// Adds books at the end of the table, all in one transaction: `next` fills
// the next book and returns true, or returns false when there are no more.
// Either every book is written or, when `next` or a write throws, none is:
// the transaction is rolled back and the exception passed on (a write
// failure as store::Error naming the file). Returns the number added.
qint64 appendBooks(Connection &connection, const std::function<bool(BookTexts &)> &next);

} // namespace store
