#include "export/utf8.h"

#include <QStringDecoder>

namespace xls {

qsizetype decodeUtf8(QByteArrayView utf8, char16_t *out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *const end = p + utf8.size();
    char16_t *o = out;
    auto follows = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            *o++ = char16_t(c);
            ++p;
        } else if (c < 0xC2) {
            return -1; // a continuation byte out of place, or an overlong two-byte form
        } else if (c < 0xE0) {
            if (end - p < 2 || !follows(p[1]))
                return -1;
            *o++ = char16_t(((c & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (c < 0xF0) {
            if (end - p < 3 || !follows(p[1]) || !follows(p[2]))
                return -1;
            const unsigned u = ((c & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            if (u < 0x800 || (u >= 0xD800 && u < 0xE000))
                return -1;
            *o++ = char16_t(u);
            p += 3;
        } else if (c < 0xF5) {
            if (end - p < 4 || !follows(p[1]) || !follows(p[2]) || !follows(p[3]))
                return -1;
            const unsigned u = ((c & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
            if (u < 0x10000 || u > 0x10FFFF)
                return -1;
            *o++ = char16_t(0xD800 + ((u - 0x10000) >> 10));
            *o++ = char16_t(0xDC00 + ((u - 0x10000) & 0x3FF));
            p += 4;
        } else {
            return -1;
        }
    }
    return o - out;
}

QString decodeUtf8Lenient(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

} // namespace xls
