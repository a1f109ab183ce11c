#include "store/fieldvalue.h"

#include <charconv>
#include <cmath>
#include <string>

namespace store {

namespace {

// A decimal number as sign, significant digits (no leading or trailing
// zeros; none for zero) and the power of ten of the last digit.
struct Decimal {
    bool negative = false;
    std::string digits;
    long long exponent = 0;
    bool operator==(const Decimal &o) const
    {
        // Zero has no sign worth keeping: "-0" and "0" are the same number.
        return digits == o.digits && (digits.empty() || (negative == o.negative && exponent == o.exponent));
    }
};

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r'; }
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads the whole text as a decimal literal, the way the engine decides
// whether a column converts it: blanks around, a sign, digits with an
// optional point (at least one digit), an optional exponent with digits.
// Anything else is no number and stays text.
std::optional<Decimal> parseDecimal(QStringView text)
{
    qsizetype i = 0, n = text.size();
    while (i < n && isBlank(text[i].unicode()))
        ++i;
    while (n > i && isBlank(text[n - 1].unicode()))
        --n;
    Decimal d;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        d.negative = text[i++] == u'-';
    std::string mantissa;
    long long fraction = 0;
    bool point = false;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (isDigit(c)) {
            mantissa += char(c);
            fraction += point ? 1 : 0;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (mantissa.empty())
        return std::nullopt;
    long long exponent = 0;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            negativeExponent = text[i++] == u'-';
        if (i == n || !isDigit(text[i].unicode()))
            return std::nullopt;
        for (; i < n && isDigit(text[i].unicode()); ++i)
            exponent = std::min(exponent * 10 + (text[i].unicode() - u'0'), 1000000000LL); // far beyond any double
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != n)
        return std::nullopt;
    const size_t first = mantissa.find_first_not_of('0');
    if (first == std::string::npos)
        return d; // zero
    const size_t last = mantissa.find_last_not_of('0');
    d.digits = mantissa.substr(first, last - first + 1);
    d.exponent = exponent - fraction + (long long)(mantissa.size() - 1 - last);
    return d;
}

// The 64-bit integer of a decimal, when it is a whole number in range.
std::optional<qint64> toInteger(const Decimal &d)
{
    if (d.digits.empty())
        return 0;
    if (d.exponent < 0 || d.digits.size() + d.exponent > 19)
        return std::nullopt;
    const std::string magnitude = d.digits + std::string(size_t(d.exponent), '0');
    unsigned long long u = 0;
    if (std::from_chars(magnitude.data(), magnitude.data() + magnitude.size(), u).ec != std::errc())
        return std::nullopt;
    constexpr unsigned long long max = 9223372036854775807ULL;
    if (d.negative)
        return u <= max + 1 ? std::optional<qint64>(qint64(0 - u)) : std::nullopt;
    return u <= max ? std::optional<qint64>(qint64(u)) : std::nullopt;
}

// The double of a decimal, when it reads back as the same decimal: its
// shortest form (the one it is shown in) is the number typed.
std::optional<double> toDouble(const Decimal &d)
{
    if (d.digits.empty())
        return 0.0;
    const std::string text = (d.negative ? "-" : "") + d.digits + 'e' + std::to_string(d.exponent);
    double value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    // The fewest digits that read back as the same double: the digits it is
    // shown with.
    char shortest[64];
    const auto written = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
    const std::optional<Decimal> back = parseDecimal(QString::fromLatin1(shortest, written.ptr - shortest));
    if (!back || !(*back == d))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<FieldValue> fieldValue(const QString &typed, Affinity affinity)
{
    if (affinity == Affinity::Text || affinity == Affinity::None)
        return FieldValue{};
    const std::optional<Decimal> d = parseDecimal(typed);
    if (!d)
        return FieldValue{}; // no number: the column keeps the text
    if (affinity != Affinity::Real) {
        if (const std::optional<qint64> i = toInteger(*d))
            return FieldValue{FieldValue::Kind::Integer, *i, 0};
    }
    if (const std::optional<double> r = toDouble(*d))
        return FieldValue{FieldValue::Kind::Real, 0, *r};
    return std::nullopt;
}

} // namespace store
