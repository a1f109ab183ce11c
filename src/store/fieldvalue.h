#pragma once

#include "store/connection.h"

#include <QString>
#include <optional>

namespace store {

// What the text typed into a field is written as.
//
// A column that converts numbers (Affinity Integer, Real or Numeric) turns
// any text that reads as a decimal number, as the engine reads one (blanks
// around it, a sign, digits with or without a point, an exponent), into a
// 64-bit integer or a double. "007", "+5" and "1.0" so become 7, 5 and 1,
// which is the same number. But a number beyond the 64-bit range, one with
// more digits than a double keeps, or one out of a double's range would be
// changed on the way (9223372036854775808 to 9223372036854776000, 1e400 to
// infinity, 12.345678901234567890 to 12.345678901234567). Such text is
// refused instead: the value written is always the number typed, read back
// as the same number.
struct FieldValue {
    enum class Kind { Text, Integer, Real };
    Kind kind = Kind::Text;
    qint64 integer = 0;
    double real = 0;
};

// The value to write for non-empty `typed` into a column of that affinity;
// nullopt when the column cannot hold the number exactly.
std::optional<FieldValue> fieldValue(const QString &typed, Affinity affinity);

} // namespace store
