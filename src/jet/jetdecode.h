#pragma once

// Decoding of the values an Access (Jet) file stores, from their raw bytes
// to UTF-8 text or exact decimal text. Plain C++ without the Jet library, so
// that each rule can be checked on its own.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <iconv.h>

namespace jet {

// UTF-16LE to UTF-8. Surrogate pairs become one character; a lone surrogate
// or an odd last byte becomes U+FFFD and is counted in *bad.
std::string utf16leToUtf8(const unsigned char *p, size_t n, int *bad);

// The text of a Jet 4 file: UTF-16LE, or, when it starts with FF FE, the
// compressed form in which a 0x00 byte switches between one byte per
// character (the high byte is zero) and two bytes per character.
std::string jet4Text(const unsigned char *p, size_t n, int *bad);

// Windows code page 932 (Shift-JIS with the NEC and IBM vendor characters
// and the user-defined area), as Windows decodes it.
class Cp932 {
public:
    Cp932();
    ~Cp932();
    Cp932(const Cp932 &) = delete;
    Cp932 &operator=(const Cp932 &) = delete;
    bool ok() const { return m_cd != iconv_t(-1); }
    // Bytes that Windows does not map either become U+FFFD, counted in *bad.
    std::string decode(const unsigned char *p, size_t n, int *bad);

private:
    iconv_t m_cd;
};

// A Date/Time value (days since 1899-12-30, the fraction the time of day)
// as "YYYY-MM-DDTHH:MM:SS", with ".mmm" when there are milliseconds.
// Nothing for values outside the years 100 to 9999 or not a number.
std::optional<std::string> dateText(double days);

// A Currency value (a 64-bit count of ten-thousandths) with its four decimals.
std::string currencyText(int64_t tenThousandths);

// A Decimal value: 17 bytes (sign byte, then four 32-bit little-endian
// words, most significant first) with `scale` digits after the point.
// Nothing when the scale is out of range.
std::optional<std::string> decimalText(const unsigned char *p17, int scale);

// Appends one code point as UTF-8.
void appendUtf8(std::string &out, char32_t c);

} // namespace jet
