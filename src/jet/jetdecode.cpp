#include "jet/jetdecode.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

namespace jet {

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

namespace {
constexpr char32_t Replacement = 0xFFFD;
}

std::string utf16leToUtf8(const unsigned char *p, size_t n, int *bad)
{
    std::string out;
    out.reserve(n + n / 2);
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
        const char32_t u = p[i] | (p[i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
            const char32_t v = p[i + 2] | (p[i + 3] << 8);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, Replacement);
            ++*bad;
        } else {
            appendUtf8(out, u);
        }
    }
    if (i < n) {
        appendUtf8(out, Replacement);
        ++*bad;
    }
    return out;
}

std::string jet4Text(const unsigned char *p, size_t n, int *bad)
{
    if (n < 2 || p[0] != 0xFF || p[1] != 0xFE)
        return utf16leToUtf8(p, n, bad);
    // Compressed: the text starts in one-byte mode; a 0x00 byte where a
    // character would start switches the mode. Access compresses no text
    // that holds a character whose low byte is zero, so in two-byte mode a
    // zero low byte can only be the switch.
    std::vector<unsigned char> wide;
    wide.reserve(2 * n);
    bool compressed = true;
    size_t i = 2;
    while (i < n) {
        if (p[i] == 0) {
            compressed = !compressed;
            ++i;
        } else if (compressed) {
            wide.push_back(p[i]);
            wide.push_back(0);
            ++i;
        } else if (i + 1 < n) {
            wide.push_back(p[i]);
            wide.push_back(p[i + 1]);
            i += 2;
        } else {
            ++*bad; // half a character at the end
            break;
        }
    }
    std::string out = utf16leToUtf8(wide.data(), wide.size(), bad);
    if (i < n)
        appendUtf8(out, Replacement);
    return out;
}

Cp932::Cp932() : m_cd(iconv_open("UTF-8", "CP932")) {}

Cp932::~Cp932()
{
    if (ok())
        iconv_close(m_cd);
}

std::string Cp932::decode(const unsigned char *p, size_t n, int *bad)
{
    std::string out;
    out.reserve(n * 3 / 2 + 4);
    char buf[4096];
    size_t i = 0;
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    while (i < n) {
        char *in = reinterpret_cast<char *>(const_cast<unsigned char *>(p + i));
        size_t inLeft = n - i;
        char *o = buf;
        size_t oLeft = sizeof buf;
        const size_t r = iconv(m_cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, size_t(o - buf));
        i = n - inLeft;
        if (r != size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // A byte glibc leaves unmapped: the single bytes that Windows maps
        // into the private use area, or a byte without a meaning at all.
        const unsigned char b = p[i];
        if (b == 0x80)
            appendUtf8(out, 0x80);
        else if (b == 0xA0)
            appendUtf8(out, 0xF8F0);
        else if (b >= 0xFD)
            appendUtf8(out, 0xF8F1 + (b - 0xFD));
        else {
            appendUtf8(out, Replacement);
            ++*bad;
        }
        ++i;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int64_t &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

} // namespace

std::optional<std::string> dateText(double days)
{
    // 0100-01-01 .. 9999-12-31, the range the Jet engine accepts.
    if (!std::isfinite(days) || days < -657434.0 || days >= 2958466.0)
        return std::nullopt;
    // The whole part counts days from 1899-12-30, also below zero; the
    // fraction is the time of that day whatever the sign (-1.25 is
    // 1899-12-29 06:00).
    int64_t day = int64_t(std::trunc(days));
    int64_t ms = std::llround(std::fabs(days - double(day)) * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        ++day;
    }
    int64_t y;
    unsigned m, d;
    civilFromDays(day - 25569, y, m, d);
    if (y > 9999)
        return std::nullopt;
    char buf[40];
    const int secs = int(ms / 1000), milli = int(ms % 1000);
    int len = std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d", int(y), m, d, secs / 3600, secs / 60 % 60,
                            secs % 60);
    if (milli)
        len += std::snprintf(buf + len, sizeof buf - size_t(len), ".%03d", milli);
    return std::string(buf, size_t(len));
}

namespace {

std::string unsignedWithScale(unsigned __int128 v, bool negative, int scale)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(v % 10)));
        v /= 10;
    } while (v);
    if (scale > 0) {
        if (int(digits.size()) <= scale)
            digits.insert(0, size_t(scale + 1) - digits.size(), '0');
        digits.insert(digits.size() - size_t(scale), 1, '.');
    }
    return negative ? '-' + digits : digits;
}

} // namespace

std::string currencyText(int64_t tenThousandths)
{
    const bool negative = tenThousandths < 0;
    const uint64_t magnitude = negative ? uint64_t(0) - uint64_t(tenThousandths) : uint64_t(tenThousandths);
    return unsignedWithScale(magnitude, negative, 4);
}

std::optional<std::string> decimalText(const unsigned char *p17, int scale)
{
    if (scale < 0 || scale > 38)
        return std::nullopt;
    unsigned __int128 v = 0;
    for (int word = 0; word < 4; ++word) {
        const unsigned char *w = p17 + 1 + 4 * word;
        v = (v << 32) | (uint32_t(w[0]) | uint32_t(w[1]) << 8 | uint32_t(w[2]) << 16 | uint32_t(w[3]) << 24);
    }
    return unsignedWithScale(v, (p17[0] & 0x80) && v != 0, scale);
}

} // namespace jet
