#include "store/utf8.h"

namespace store {

bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = std::size_t(bytes.size());
    char32_t c;
    for (std::size_t i = 0; i < n;) {
        const int len = decodeUtf8Char(p + i, n - i, c);
        if (!len)
            return false;
        i += std::size_t(len);
    }
    return true;
}

qsizetype decodeUtf8(QByteArrayView utf8, char16_t *out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const std::size_t n = std::size_t(utf8.size());
    char16_t *o = out;
    char32_t c;
    for (std::size_t i = 0; i < n;) {
        const int len = decodeUtf8Char(p + i, n - i, c);
        if (!len)
            return -1;
        if (c < 0x10000) {
            *o++ = char16_t(c);
        } else {
            *o++ = char16_t(0xD800 + ((c - 0x10000) >> 10));
            *o++ = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        i += std::size_t(len);
    }
    return o - out;
}

void appendUtf8(std::vector<char> &out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | c >> 6));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | c >> 12));
        out.push_back(char(0x80 | (c >> 6 & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | c >> 18));
        out.push_back(char(0x80 | (c >> 12 & 0x3F)));
        out.push_back(char(0x80 | (c >> 6 & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

} // namespace store
