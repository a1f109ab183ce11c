// libFuzzer target: the Access reader's decoding of stored values
// (jet/jetdecode.h), fed Jet pages. The input is read as a row would be:
// a kind byte and a length, then that many bytes of the page decoded as
// that kind, on to the end. Whatever the bytes: no crash, no read outside
// them, valid UTF-8 out, and numbers that read back as what was stored.
#include "jet/jetdecode.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_jetdecode: %s\n", what);
        std::abort();
    }
}

// Well-formed UTF-8 as a decoder must write it: shortest forms, no
// surrogates, nothing beyond U+10FFFF.
bool validUtf8(const std::string &s)
{
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        size_t len;
        char32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (p[i + k] & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

// The decimal text of a count of 10^-scale units, back to the count's own
// decimal digits (the point and the leading zeros dropped).
std::string countOf(const std::string &text)
{
    std::string sign, d;
    for (char c : text) {
        if (c == '-')
            sign = "-";
        else if (c != '.' && !(d.empty() && c == '0'))
            d += c;
    }
    return d.empty() ? "0" : sign + d;
}

void decodeOne(unsigned kind, const unsigned char *p, size_t n, jet::Cp932 &cp932)
{
    int bad = 0;
    switch (kind % 6) {
    case 0: {
        const std::string s = jet::utf16leToUtf8(p, n, &bad);
        check(validUtf8(s), "utf16leToUtf8 wrote invalid UTF-8");
        check(bad >= 0 && size_t(bad) <= n, "utf16leToUtf8 counted more bad characters than bytes");
        break;
    }
    case 1: {
        const std::string s = jet::jet4Text(p, n, &bad);
        check(validUtf8(s), "jet4Text wrote invalid UTF-8");
        if (!(n >= 2 && p[0] == 0xFF && p[1] == 0xFE)) {
            int plainBad = 0;
            check(s == jet::utf16leToUtf8(p, n, &plainBad) && plainBad == bad,
                  "jet4Text of uncompressed text differs from UTF-16LE");
        }
        break;
    }
    case 2:
        if (cp932.ok()) {
            const std::string s = cp932.decode(p, n, &bad);
            check(validUtf8(s), "Cp932 wrote invalid UTF-8");
            check(bad >= 0 && size_t(bad) <= n, "Cp932 counted more bad characters than bytes");
        }
        break;
    case 3:
        if (n >= 8) {
            double days;
            std::memcpy(&days, p, 8);
            if (const auto s = jet::dateText(days)) {
                static const std::regex form(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{3})?)");
                check(std::regex_match(*s, form), "dateText wrote an impossible date");
            }
        }
        break;
    case 4:
        if (n >= 8) {
            int64_t v;
            std::memcpy(&v, p, 8);
            const std::string s = jet::currencyText(v);
            check(s.size() > 5 && s[s.size() - 5] == '.', "currencyText without its four decimals");
            check(countOf(s) == std::to_string(v), "currencyText does not read back as the stored count");
        }
        break;
    case 5:
        if (n >= 18) {
            const int scale = p[17] % 40;
            if (const auto s = jet::decimalText(p, scale)) {
                check(!s->empty() && validUtf8(*s), "decimalText wrote nothing or bytes");
                check(s->find_first_not_of("-0123456789.") == std::string::npos, "decimalText wrote a non-digit");
                check(scale == 0 ? s->find('.') == std::string::npos
                                 : s->size() > size_t(scale) && (*s)[s->size() - size_t(scale) - 1] == '.',
                      "decimalText put the point in the wrong place");
            }
        }
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static jet::Cp932 cp932;
    size_t at = 0;
    while (at + 2 <= size) {
        const unsigned kind = data[at];
        const size_t n = std::min<size_t>(data[at + 1] * 4u, size - at - 2);
        // A copy of exactly the bytes given, so that any read beyond them
        // is caught by the address sanitizer.
        std::string bytes(reinterpret_cast<const char *>(data + at + 2), n);
        decodeOne(kind, reinterpret_cast<const unsigned char *>(bytes.data()), n, cp932);
        at += 2 + n;
    }
    return 0;
}
