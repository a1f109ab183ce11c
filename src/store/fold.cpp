#include "store/fold.h"

#include "store/foldtables.h"

#include <QChar>

#include <algorithm>
#include <cstring>
#include <memory>

namespace store {

namespace {

// Full-width forms of the half-width katakana block U+FF61..U+FF9F.
constexpr char16_t kHalfWidthKana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, // FF61..FF68
    0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, // FF69..FF70
    0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, // FF71..FF78
    0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, // FF79..FF80
    0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, // FF81..FF88
    0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, // FF89..FF90
    0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9, 0x30EA, // FF91..FF98
    0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,         // FF99..FF9F
};

bool isHaHang(char32_t c) { return c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0; }

// The voiced form of a full-width katakana, or 0 when it has none.
char32_t voiced(char32_t c)
{
    if ((c >= 0x30AB && c <= 0x30C1 && (c - 0x30AB) % 2 == 0) || (c >= 0x30C4 && c <= 0x30C8 && (c - 0x30C4) % 2 == 0)
        || isHaHang(c))
        return c + 1;
    switch (c) {
    case 0x30A6: return 0x30F4; // ウ -> ヴ
    case 0x30EF: return 0x30F7; // ワ -> ヷ
    case 0x30F2: return 0x30FA; // ヲ -> ヺ
    default: return 0;
    }
}

// Characters that Japanese text typed on Windows and text typed on other
// systems write differently for the same sign (the code page 932 and the JIS
// readings of one Shift-JIS code), folded to one of the pair: wave dash and
// full-width tilde, minus sign and full-width hyphen-minus, double vertical
// line and parallel, em dash and horizontal bar. The full-width tilde and
// hyphen-minus fold on to ASCII with the rest of the full-width forms.
char32_t foldVariant(char32_t c)
{
    switch (c) {
    case 0x301C: return u'~';   // 〜 as ～
    case 0x2212: return u'-';   // − as －
    case 0x2225: return 0x2016; // ∥ as ‖
    case 0x2015: return 0x2014; // ― as —
    default: return c;
    }
}

// Width: full-width ASCII and the ideographic space to ASCII, the full-width
// signs ￠￡￢￤￥￦ to their usual forms, half-width katakana to full-width.
char32_t foldWidth(char32_t c)
{
    if (c >= 0xFF01 && c <= 0xFF5E)
        return c - 0xFEE0; // full-width ASCII
    if (c == 0x3000)
        return u' '; // ideographic space
    if (c >= kHalfWidthFirst && c <= kHalfWidthLast)
        return kHalfWidthKana[c - kHalfWidthFirst];
    switch (c) {
    case 0xFFE0: return 0x00A2;
    case 0xFFE1: return 0x00A3;
    case 0xFFE2: return 0x00AC;
    case 0xFFE4: return 0x00A6;
    case 0xFFE5: return 0x00A5;
    case 0xFFE6: return 0x20A9;
    default: return c;
    }
}

// Katakana to hiragana, as Japanese Access compares them: ァ to ヶ and the
// iteration marks ヽヾ have a hiragana twin at a fixed distance. ヷヸヹヺ and
// the prolonged sound mark ー have none and stay.
char32_t foldKana(char32_t c)
{
    if ((c >= 0x30A1 && c <= 0x30F6) || c == 0x30FD || c == 0x30FE)
        return c - 0x60;
    return c;
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Blanks, as folded: a text's blanks count for nothing when books are
// compared (see foldWithoutBlanks).
bool isBlank(char32_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0xA0; }

} // namespace

const FoldTables &foldTables()
{
    static const std::unique_ptr<const FoldTables> tables = [] {
        auto t = std::make_unique<FoldTables>();
        for (char32_t c = 0; c < 0x10000; ++c) {
            const char32_t w = foldKana(foldVariant(foldWidth(c)));
            t->fold[c] = char16_t(w < 0x80 ? (w >= 'A' && w <= 'Z' ? w + 32 : w) : QChar::toCaseFolded(w));
        }
        std::vector<std::uint8_t> sources(0x10000, 0);
        auto count = [&](char32_t c) { sources[c] = std::uint8_t(std::min(sources[c] + 1, 2)); };
        for (char32_t c = 0; c < 0x10000; ++c)
            count(t->fold[c]);
        for (unsigned i = 0; i < kHalfWidthCount; ++i) {
            const char32_t base = kHalfWidthKana[i];
            t->voiced[i] = char16_t(voiced(base) ? foldKana(voiced(base)) : 0);
            t->semiVoiced[i] = char16_t(isHaHang(base) ? foldKana(base + 2) : 0);
            if (t->voiced[i])
                count(t->voiced[i]);
            if (t->semiVoiced[i])
                count(t->semiVoiced[i]);
        }
        std::fill(std::begin(t->selfOnly), std::end(t->selfOnly), 0);
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (t->fold[c] == c && sources[c] == 1 && !QChar::isSurrogate(c))
                t->selfOnly[c / 64] |= std::uint64_t(1) << (c % 64);
        }
        return t;
    }();
    return *tables;
}

std::size_t foldUtf16(const char16_t *u, std::size_t n, char32_t *out)
{
    const FoldTables &t = foldTables();
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = u[i];
        if (isHighSurrogate(c) && i + 1 < n && isLowSurrogate(u[i + 1])) {
            out[k++] = QChar::surrogateToUcs4(c, u[++i]);
            continue;
        }
        if (c >= kHalfWidthFirst && c <= kHalfWidthLast && i + 1 < n) {
            const unsigned x = c - kHalfWidthFirst;
            if (u[i + 1] == kVoicedMark && t.voiced[x]) {
                out[k++] = t.voiced[x];
                ++i;
                continue;
            }
            if (u[i + 1] == kSemiVoicedMark && t.semiVoiced[x]) {
                out[k++] = t.semiVoiced[x];
                ++i;
                continue;
            }
        }
        out[k++] = t.fold[c];
    }
    return k;
}

std::size_t foldUtf8(const unsigned char *z, std::size_t n, char32_t *out)
{
    const FoldTables &t = foldTables();
    std::size_t i = 0, k = 0;
    while (i < n)
        out[k++] = foldNextUtf8(t, z, i, n);
    return k;
}

std::vector<char32_t> foldToVector(QStringView text)
{
    std::vector<char32_t> out(std::size_t(text.size()));
    out.resize(foldUtf16(text.utf16(), out.size(), out.data()));
    return out;
}

// Whether UTF-8 text can be matched as it is, byte for byte: it is
// well-formed UTF-8 (decodeUtf8Char) without U+FFFE or U+FFFF and, when
// `unfolded` is asked for, none of its characters changes when folded.
bool isPlainUtf8(const unsigned char *z, std::size_t n, bool unfolded)
{
    constexpr std::uint64_t kHigh = 0x8080808080808080, kOnes = 0x0101010101010101;
    const FoldTables &t = foldTables();
    std::size_t i = 0;
    while (i < n) {
        const unsigned b = z[i];
        if (b < 0x80) {
            if (n - i >= 8) {
                std::uint64_t w;
                std::memcpy(&w, z + i, 8);
                if (!(w & kHigh)) {
                    // Eight ASCII bytes; any from 'A' to 'Z'?
                    if (unfolded && ((w + (0x80 - 'A') * kOnes) & ~(w + (0x80 - 'Z' - 1) * kOnes) & kHigh))
                        return false;
                    i += 8;
                    continue;
                }
            }
            if (unfolded && b - 'A' < 26u)
                return false;
            ++i;
            continue;
        }
        char32_t c;
        const int len = decodeUtf8Char(z + i, n - i, c);
        if (!len || c == 0xFFFE || c == 0xFFFF || (unfolded && c <= 0xFFFF && t.fold[c] != c))
            return false;
        i += std::size_t(len);
    }
    return true;
}

std::u32string foldWithoutBlanks(QStringView text)
{
    std::u32string out;
    for (char32_t c : foldToVector(text)) {
        if (!isBlank(c))
            out.push_back(c);
    }
    return out;
}

bool equalsFoldedWithoutBlanks(const char *utf8, std::size_t size, std::u32string_view folded)
{
    const FoldTables &t = foldTables();
    const auto *z = reinterpret_cast<const unsigned char *>(utf8);
    std::size_t i = 0, k = 0;
    while (i < size) {
        const char32_t c = foldNextUtf8(t, z, i, size);
        if (isBlank(c))
            continue;
        if (k == folded.size() || folded[k] != c)
            return false;
        ++k;
    }
    return k == folded.size();
}

void foldWithoutBlanks(const char *utf8, std::size_t size, std::u32string &out)
{
    const FoldTables &t = foldTables();
    const auto *z = reinterpret_cast<const unsigned char *>(utf8);
    out.clear();
    std::size_t i = 0;
    while (i < size) {
        const char32_t c = foldNextUtf8(t, z, i, size);
        if (!isBlank(c))
            out.push_back(c);
    }
}

QString foldForMatch(QStringView text)
{
    // Character by character: QString::fromUcs4 would drop a leading U+FEFF.
    QString out;
    out.reserve(text.size());
    for (char32_t c : foldToVector(text))
        out += QChar::fromUcs4(c);
    return out;
}

} // namespace store
