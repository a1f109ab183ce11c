#pragma once

// UTF-8 as the store, the export and the Access stream read it: one rule
// for what is well-formed, and the store's lenient reading of what is not.

#include <QByteArrayView>

#include <cstddef>
#include <vector>

namespace store {

// The character at p (`left` bytes from there, at least one) when it is
// well-formed UTF-8: its length in bytes (1 to 4), the character in `c`.
// 0 when it is not: a stray or missing continuation byte, an overlong form,
// an encoded surrogate, a code point past U+10FFFF.
inline int decodeUtf8Char(const unsigned char *p, std::size_t left, char32_t &c)
{
    const unsigned b = p[0];
    if (b < 0x80) {
        c = b;
        return 1;
    }
    if (b < 0xC2)
        return 0;
    if (b < 0xE0) {
        if (left < 2 || (p[1] & 0xC0) != 0x80)
            return 0;
        c = (b & 0x1F) << 6 | (p[1] & 0x3F);
        return 2;
    }
    if (b < 0xF0) {
        if (left < 3 || (((p[1] ^ 0x80) | (p[2] ^ 0x80)) & 0xC0))
            return 0;
        c = (b & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F);
        return c >= 0x800 && (c < 0xD800 || c > 0xDFFF) ? 3 : 0;
    }
    if (b < 0xF5) {
        if (left < 4 || (((p[1] ^ 0x80) | (p[2] ^ 0x80) | (p[3] ^ 0x80)) & 0xC0))
            return 0;
        c = (b & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F);
        return c >= 0x10000 && c <= 0x10FFFF ? 4 : 0;
    }
    return 0;
}

// Whether the bytes are well-formed UTF-8 throughout (decodeUtf8Char).
bool isValidUtf8(QByteArrayView bytes);

// Writes the UTF-16 form of well-formed UTF-8 to `out`, which has room for
// at least utf8.size() units (UTF-16 never takes more units than UTF-8
// takes bytes), and returns the units written; -1 when the bytes are not
// well-formed.
qsizetype decodeUtf8(QByteArrayView utf8, char16_t *out);

// Reads the character at z[i] and moves i past it. Well-formed UTF-8 is
// read exactly, as the store reads every text (U+FFFE and U+FFFF included).
// Bytes that are not, which only another program can have stored, are read
// as SQLite reads them when it converts stored UTF-8 to UTF-16: a lead byte
// takes every continuation byte after it; a stray continuation byte is a
// character of its own; surrogates and overlong forms of ASCII become
// U+FFFD, and so do U+FFFE and U+FFFF when other bytes than their own three
// add up to them; values past U+FFFF keep the low 20 bits their UTF-16 pair
// holds.
inline char32_t readUtf8(const unsigned char *z, std::size_t &i, std::size_t n)
{
    const std::size_t start = i;
    static constexpr unsigned char kLeadBits[64] = {
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
        0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f,
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 0x01, 0x02, 0x03, 0x00, 0x01, 0x00, 0x00,
    };
    char32_t c = z[i++];
    if (c >= 0xC0) {
        c = kLeadBits[c - 0xC0];
        while (i < n && (z[i] & 0xC0) == 0x80)
            c = (c << 6) + (z[i++] & 0x3F);
        if (c < 0x80 || (c & 0xFFFFF800) == 0xD800
            || ((c & 0xFFFFFFFE) == 0xFFFE && (z[start] != 0xEF || i - start != 3)))
            c = 0xFFFD;
    }
    if (c > 0xFFFF)
        c = 0x10000 + ((c - 0x10000) & 0xFFFFF);
    return c;
}

// Appends the UTF-8 form of a character.
void appendUtf8(std::vector<char> &out, char32_t c);

} // namespace store
