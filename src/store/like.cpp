#include "store/like.h"

#include <QChar>

#include <algorithm>
#include <cstring>

namespace store {

namespace {

constexpr std::size_t npos = std::size_t(-1);
constexpr char32_t kMaxChar = 0xFFFFFFFF;

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
constexpr char16_t kHalfWidthFirst = 0xFF61, kHalfWidthLast = 0xFF9F;
constexpr char16_t kVoicedMark = 0xFF9E, kSemiVoicedMark = 0xFF9F;
constexpr unsigned kHalfWidthCount = kHalfWidthLast - kHalfWidthFirst + 1;

bool isHaHang(char32_t c) { return c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0; }

// The voiced form of a full-width katakana, or 0 when it has none.
char32_t voiced(char32_t c)
{
    if ((c >= 0x30AB && c <= 0x30C1 && (c - 0x30AB) % 2 == 0)
        || (c >= 0x30C4 && c <= 0x30C8 && (c - 0x30C4) % 2 == 0) || isHaHang(c))
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
    case 0x301C: return u'~'; // 〜 as ～
    case 0x2212: return u'-'; // − as －
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

// Folding of every character of the Basic Multilingual Plane, worked out
// once: width first (see foldWidth), the pairs of foldVariant, katakana to
// hiragana, then case. Characters beyond the plane are left as they are.
struct FoldTables {
    char16_t fold[0x10000];
    // A half-width katakana followed by a voiced / semi-voiced sound mark
    // folds to one character, 0 where there is none.
    char16_t voiced[kHalfWidthCount], semiVoiced[kHalfWidthCount];
    // Characters that nothing else folds to: in text that needs no folding
    // work otherwise, they can be searched for as they are.
    std::uint64_t selfOnly[0x10000 / 64];

    bool isSelfOnly(char32_t c) const { return c > 0xFFFF || (selfOnly[c / 64] >> (c % 64) & 1); }
};

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

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Folds UTF-16 text into code points; returns how many. `out` has room for
// `n` of them. A pair of surrogates is one character; a lone one stays as
// it is.
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

// Reads the character at z[i] and moves i past it. Valid UTF-8 is read
// exactly, as the store reads every text (U+FFFE and U+FFFF included).
// Bytes that are not valid UTF-8, which only another program can have
// stored, are read as SQLite reads them when it converts stored UTF-8 to
// UTF-16: a lead byte takes every continuation byte after it; a stray
// continuation byte is a character of its own; surrogates and overlong
// forms of ASCII become U+FFFD, and so do U+FFFE and U+FFFF when other
// bytes than their own three add up to them; values past U+FFFF keep the
// low 20 bits their UTF-16 pair holds.
char32_t readUtf8(const unsigned char *z, std::size_t &i, std::size_t n)
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

// Reads the character at z[i] (as readUtf8 does), folded, and moves i past
// it: a half-width kana and a sound mark after it fold into one character.
inline char32_t foldNextUtf8(const FoldTables &t, const unsigned char *z, std::size_t &i, std::size_t n)
{
    if (z[i] < 0x80)
        return t.fold[z[i++]];
    const char32_t c = readUtf8(z, i, n);
    if (c > 0xFFFF)
        return c;
    if (c >= kHalfWidthFirst && c <= kHalfWidthLast && i < n && z[i] >= 0xC0) {
        const unsigned x = c - kHalfWidthFirst;
        std::size_t j = i;
        const char32_t next = readUtf8(z, j, n);
        if (next == kVoicedMark && t.voiced[x]) {
            i = j;
            return t.voiced[x];
        }
        if (next == kSemiVoicedMark && t.semiVoiced[x]) {
            i = j;
            return t.semiVoiced[x];
        }
    }
    return t.fold[c];
}

// Folds UTF-8 text (read as readUtf8 does) into code points; returns how
// many. `out` has room for `n` of them.
std::size_t foldUtf8(const unsigned char *z, std::size_t n, char32_t *out)
{
    const FoldTables &t = foldTables();
    std::size_t i = 0, k = 0;
    while (i < n)
        out[k++] = foldNextUtf8(t, z, i, n);
    return k;
}

// Blanks, as folded: a text's blanks count for nothing when books are
// compared (see foldWithoutBlanks).
bool isBlank(char32_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0xA0; }

// Whether UTF-8 text can be matched as it is, byte for byte: it is valid
// UTF-8 (no overlong forms, surrogates, U+FFFE or U+FFFF) and, when
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
        if ((b & 0xF0) == 0xE0 && n - i >= 3) {
            // Three bytes, as most of a Japanese text.
            const unsigned b1 = z[i + 1], b2 = z[i + 2];
            if (((b1 ^ 0x80) | (b2 ^ 0x80)) & 0xC0)
                return false;
            const char32_t c = (b & 0x0F) << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
            if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF) || c >= 0xFFFE || (unfolded && t.fold[c] != c))
                return false;
            i += 3;
            continue;
        }
        std::size_t len;
        unsigned lo = 0x80, hi = 0xBF;
        if (b < 0xC2) {
            return false;
        } else if (b < 0xE0) {
            len = 2;
        } else if (b < 0xF0) {
            len = 3;
            if (b == 0xE0)
                lo = 0xA0;
            else if (b == 0xED)
                hi = 0x9F;
        } else if (b < 0xF5) {
            len = 4;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (n - i < len || z[i + 1] < lo || z[i + 1] > hi)
            return false;
        char32_t c = b & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            if ((z[i + k] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (z[i + k] & 0x3F);
        }
        if (c == 0xFFFE || c == 0xFFFF || (unfolded && c <= 0xFFFF && t.fold[c] != c))
            return false;
        i += len;
    }
    return true;
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

// The leftmost place of `needle` in `s`, or null. A short needle is found
// by its last byte (memchr) and a comparison at each place that byte is,
// at most 16 bytes of work per byte of text; a longer one with glibc's
// memmem (Two-Way), linear in the text. For texts of a few dozen bytes this
// is faster than memmem, whose set-up dominates there.
const char *findBytes(const char *s, std::size_t n, const char *needle, std::size_t m)
{
    if (m > 16)
        return static_cast<const char *>(memmem(s, n, needle, m));
    if (m > n)
        return nullptr;
    const char *end = s + n;
    for (const char *p = s + m - 1; p < end; ++p) {
        p = static_cast<const char *>(std::memchr(p, needle[m - 1], std::size_t(end - p)));
        if (!p)
            return nullptr;
        if (std::memcmp(p - (m - 1), needle, m - 1) == 0)
            return p - (m - 1);
    }
    return nullptr;
}

std::vector<char32_t> foldToVector(QStringView text)
{
    std::vector<char32_t> out(std::size_t(text.size()));
    out.resize(foldUtf16(text.utf16(), out.size(), out.data()));
    return out;
}

// Texts are searched by pieces with '?', '#' or classes in chunks of this
// many characters (see findBlocks).
constexpr std::size_t kChunk = 2048;

} // namespace

struct LikePattern::Position {
    enum Kind : std::uint8_t { Literal, Any, Digit, Class };
    Kind kind = Literal;
    bool negated = false;
    char32_t ch = 0;                        // Literal
    std::uint32_t ranges = 0, rangeEnd = 0; // Class: its lo, hi pairs in m_classRanges
};

struct LikePattern::Segment {
    enum Kind : std::uint8_t { Plain, AnyOnly, Mixed };
    Kind kind = Plain;
    std::uint32_t first = 0, length = 0;        // its characters in m_positions
    std::uint32_t failure = 0;                  // Plain: its table in m_failure
    std::uint32_t firstBlock = 0, blocks = 0;   // Mixed: its blocks in m_blockSteps
    std::uint32_t utf8First = 0, utf8Size = 0;  // Plain: its bytes in m_utf8
};

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

std::u32string foldWithoutBlanks(const char *utf8, std::size_t size)
{
    const FoldTables &t = foldTables();
    const auto *z = reinterpret_cast<const unsigned char *>(utf8);
    std::u32string out;
    std::size_t i = 0;
    while (i < size) {
        const char32_t c = foldNextUtf8(t, z, i, size);
        if (!isBlank(c))
            out.push_back(c);
    }
    return out;
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

LikePattern::LikePattern(QStringView pattern)
{
    const std::size_t n = std::size_t(pattern.size());
    // For every place, where the next ']' is (n: none), so that finding the
    // end of each class stays linear however many '[' there are.
    std::vector<std::uint32_t> nextClose(n + 1, std::uint32_t(n));
    for (std::size_t i = n; i-- > 0;)
        nextClose[i] = pattern[qsizetype(i)] == u']' ? std::uint32_t(i) : nextClose[i + 1];

    // Literal runs are folded as whole strings, so that a half-width kana and
    // its sound mark fold into one character as they do in the text.
    std::size_t literalStart = 0, literalEnd = 0, segmentStart = 0;
    auto flushLiterals = [&] {
        for (char32_t c : foldToVector(pattern.sliced(qsizetype(literalStart), qsizetype(literalEnd - literalStart))))
            m_positions.push_back({Position::Literal, false, c, 0, 0});
        literalStart = literalEnd;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const QChar c = pattern[qsizetype(i)];
        if (c == u'*' || c == u'?' || c == u'#' || (c == u'[' && nextClose[i + 1] < n)) {
            flushLiterals();
            if (c == u'*') {
                addSegment(segmentStart, m_positions.size());
                segmentStart = m_positions.size();
                m_hasStar = true;
            } else if (c == u'?' || c == u'#') {
                m_positions.push_back({c == u'?' ? Position::Any : Position::Digit, false, 0, 0, 0});
            } else {
                const std::size_t close = nextClose[i + 1];
                QStringView body = pattern.sliced(qsizetype(i + 1), qsizetype(close - i - 1));
                Position p{Position::Class, false, 0, 0, 0};
                if (body.startsWith(u'!')) {
                    p.negated = true;
                    body = body.sliced(1);
                }
                const std::vector<char32_t> chars = foldToVector(body);
                std::vector<std::pair<char32_t, char32_t>> ranges;
                for (std::size_t k = 0; k < chars.size(); ++k) {
                    if (k + 2 < chars.size() && chars[k + 1] == U'-') {
                        if (chars[k] <= chars[k + 2]) // a reversed range holds nothing
                            ranges.emplace_back(chars[k], chars[k + 2]);
                        k += 2;
                    } else {
                        ranges.emplace_back(chars[k], chars[k]);
                    }
                }
                std::sort(ranges.begin(), ranges.end());
                p.ranges = std::uint32_t(m_classRanges.size());
                for (const auto &[lo, hi] : ranges) {
                    const std::size_t size = m_classRanges.size();
                    if (size > p.ranges && (lo <= m_classRanges[size - 1] || lo - 1 == m_classRanges[size - 1])) {
                        m_classRanges[size - 1] = std::max(m_classRanges[size - 1], hi);
                    } else {
                        m_classRanges.push_back(lo);
                        m_classRanges.push_back(hi);
                    }
                }
                p.rangeEnd = std::uint32_t(m_classRanges.size());
                m_positions.push_back(p);
                i = close;
            }
            literalStart = literalEnd = i + 1;
            continue;
        }
        literalEnd = i + 1;
    }
    flushLiterals();
    addSegment(segmentStart, m_positions.size());
    m_blockSteps.push_back(std::uint32_t(m_stepFrom.size()));

    if (!m_plain) {
        std::size_t best = 0, bestLength = 0;
        for (const Segment &seg : m_segments) {
            for (std::size_t q = seg.first, run = 0; q < std::size_t(seg.first) + seg.length; ++q) {
                const Position &p = m_positions[q];
                run = p.kind == Position::Literal && foldTables().isSelfOnly(p.ch) ? run + 1 : 0;
                if (run > bestLength) {
                    bestLength = run;
                    best = q + 1 - run;
                }
            }
        }
        for (std::size_t q = best; q < best + bestLength; ++q)
            appendUtf8(m_required, m_positions[q].ch);
    }

    std::uint32_t mostBlocks = 0;
    for (const Segment &seg : m_segments)
        mostBlocks = std::max(mostBlocks, seg.blocks);
    if (mostBlocks > 1) {
        m_state.resize(mostBlocks);
        m_chunkOrder.resize(kChunk);
        m_chunkMasks.resize(kChunk);
        m_chunkChars.resize(kChunk);
        m_chunkIds.resize(kChunk);
        m_carryIn.resize(kChunk + 1);
        m_carryOut.resize(kChunk + 1);
    }
}

LikePattern::~LikePattern() = default;

void LikePattern::addSegment(std::size_t first, std::size_t end)
{
    Segment seg;
    seg.first = std::uint32_t(first);
    seg.length = std::uint32_t(end - first);
    const auto begin = m_positions.begin() + qsizetype(first), stop = m_positions.begin() + qsizetype(end);
    if (std::all_of(begin, stop, [](const Position &p) { return p.kind == Position::Literal; }))
        seg.kind = Segment::Plain;
    else if (std::all_of(begin, stop, [](const Position &p) { return p.kind == Position::Any; }))
        seg.kind = Segment::AnyOnly;
    else
        seg.kind = Segment::Mixed;

    if (seg.kind == Segment::Plain) {
        // Knuth-Morris-Pratt: failure[q] is the length of the longest proper
        // prefix of the first q + 1 characters that is also their suffix.
        seg.failure = std::uint32_t(m_failure.size());
        m_failure.resize(m_failure.size() + seg.length);
        std::uint32_t *failure = m_failure.data() + seg.failure;
        const Position *p = m_positions.data() + first;
        std::uint32_t k = 0;
        for (std::uint32_t q = 1; q < seg.length; ++q) {
            while (k > 0 && p[q].ch != p[k].ch)
                k = failure[k - 1];
            if (p[q].ch == p[k].ch)
                ++k;
            failure[q] = k;
        }
        if (seg.length > 0)
            failure[0] = 0;
        seg.utf8First = std::uint32_t(m_utf8.size());
        for (std::uint32_t q = 0; q < seg.length; ++q) {
            appendUtf8(m_utf8, p[q].ch);
            m_onlySelfMatching = m_onlySelfMatching && foldTables().isSelfOnly(p[q].ch);
        }
        seg.utf8Size = std::uint32_t(m_utf8.size()) - seg.utf8First;
    } else {
        m_plain = false;
        if (seg.kind == Segment::Mixed)
            buildBlocks(seg);
    }
    m_segments.push_back(seg);
}

// The Shift-And tables of a piece: for each block of 64 of its characters,
// a step function from a text character to the mask of the block's
// positions that accept it. Built from the intervals each position accepts,
// so a class with many ranges costs its ranges, not the alphabet.
void LikePattern::buildBlocks(Segment &seg)
{
    seg.firstBlock = std::uint32_t(m_blockSteps.size());
    seg.blocks = (seg.length + 63) / 64;
    std::vector<std::pair<char32_t, std::uint64_t>> toggles;
    for (std::uint32_t b = 0; b < seg.blocks; ++b) {
        toggles.clear();
        // Each position accepts disjoint intervals [lo, hi]: its bit turns on
        // at lo and off after hi.
        auto interval = [&](char32_t lo, char32_t hi, std::uint64_t bit) {
            toggles.emplace_back(lo, bit);
            if (hi < kMaxChar)
                toggles.emplace_back(hi + 1, bit);
        };
        const std::uint32_t end = std::min(seg.length, (b + 1) * 64);
        for (std::uint32_t q = b * 64; q < end; ++q) {
            const Position &p = m_positions[seg.first + q];
            const std::uint64_t bit = std::uint64_t(1) << (q % 64);
            switch (p.kind) {
            case Position::Literal: interval(p.ch, p.ch, bit); break;
            case Position::Any: interval(0, kMaxChar, bit); break;
            case Position::Digit: interval(U'0', U'9', bit); break;
            case Position::Class:
                if (!p.negated) {
                    for (std::uint32_t r = p.ranges; r < p.rangeEnd; r += 2)
                        interval(m_classRanges[r], m_classRanges[r + 1], bit);
                } else {
                    // The gaps between the ranges.
                    char32_t from = 0;
                    bool open = true;
                    for (std::uint32_t r = p.ranges; r < p.rangeEnd; r += 2) {
                        if (m_classRanges[r] > from)
                            interval(from, m_classRanges[r] - 1, bit);
                        open = m_classRanges[r + 1] < kMaxChar;
                        from = m_classRanges[r + 1] + 1;
                    }
                    if (open)
                        interval(from, kMaxChar, bit);
                }
                break;
            }
        }
        std::sort(toggles.begin(), toggles.end(),
                  [](const auto &a, const auto &b) { return a.first < b.first; });
        m_blockSteps.push_back(std::uint32_t(m_stepFrom.size()));
        m_stepFrom.push_back(0);
        m_stepMask.push_back(0);
        std::uint64_t mask = 0;
        for (std::size_t i = 0; i < toggles.size();) {
            const char32_t at = toggles[i].first;
            for (; i < toggles.size() && toggles[i].first == at; ++i)
                mask ^= toggles[i].second;
            if (m_stepFrom.back() == at)
                m_stepMask.back() = mask;
            else if (m_stepMask.back() != mask) {
                m_stepFrom.push_back(at);
                m_stepMask.push_back(mask);
            }
        }
    }
}

bool LikePattern::accepts(const Position &p, char32_t c) const
{
    switch (p.kind) {
    case Position::Literal: return c == p.ch;
    case Position::Any: return true;
    case Position::Digit: return c >= U'0' && c <= U'9';
    case Position::Class: {
        // The last range starting at or below c.
        std::uint32_t lo = 0, hi = (p.rangeEnd - p.ranges) / 2;
        const char32_t *r = m_classRanges.data() + p.ranges;
        while (lo < hi) {
            const std::uint32_t mid = (lo + hi) / 2;
            if (r[2 * mid] <= c)
                lo = mid + 1;
            else
                hi = mid;
        }
        const bool in = lo > 0 && c <= r[2 * (lo - 1) + 1];
        return in != p.negated;
    }
    }
    return false;
}

bool LikePattern::matchesAt(const Segment &seg, const char32_t *s) const
{
    const Position *p = m_positions.data() + seg.first;
    for (std::uint32_t q = 0; q < seg.length; ++q) {
        if (!accepts(p[q], s[q]))
            return false;
    }
    return true;
}

// The end of the leftmost place in s[pos, end) where the piece matches, or
// npos.
std::size_t LikePattern::find(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const
{
    switch (seg.kind) {
    case Segment::Plain: return findLiteral(seg, s, pos, end);
    case Segment::AnyOnly: return pos + seg.length <= end ? pos + seg.length : npos;
    case Segment::Mixed: return seg.blocks == 1 ? findOneBlock(seg, s, pos, end) : findBlocks(seg, s, pos, end);
    }
    return npos;
}

std::size_t LikePattern::findLiteral(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const
{
    const Position *p = m_positions.data() + seg.first;
    const std::uint32_t *failure = m_failure.data() + seg.failure;
    const char32_t first = p[0].ch;
    std::uint32_t q = 0;
    for (std::size_t t = pos; t < end; ++t) {
        if (q == 0) {
            t = std::size_t(std::find(s + t, s + end, first) - s);
            if (t == end)
                break;
        }
        const char32_t c = s[t];
        while (q > 0 && p[q].ch != c)
            q = failure[q - 1];
        if (p[q].ch == c && ++q == seg.length)
            return t + 1;
    }
    return npos;
}

std::size_t LikePattern::findOneBlock(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const
{
    const std::uint32_t from = m_blockSteps[seg.firstBlock], to = m_blockSteps[seg.firstBlock + 1];
    const char32_t *steps = m_stepFrom.data() + from;
    const std::uint64_t *masks = m_stepMask.data() + from;
    const std::size_t count = to - from;
    const std::uint64_t hit = std::uint64_t(1) << (seg.length - 1);
    std::uint64_t d = 0;
    for (std::size_t t = pos; t < end; ++t) {
        const std::size_t k = std::size_t(std::upper_bound(steps, steps + count, s[t]) - steps) - 1;
        d = ((d << 1) | 1) & masks[k];
        if (d & hit)
            return t + 1;
    }
    return npos;
}

// Shift-And over several 64-bit blocks. Looking up every block's mask for
// every text character would cost a search per block and character; instead
// the text goes in chunks: the chunk's distinct characters are sorted once,
// and each block's masks for all of them come from one merge with the
// block's sorted steps. Each block then runs over the chunk, handing its top
// bit at each step on to the next block.
//
// Block b holds pattern positions 64b to 64b + 63. Its bits can be set only
// from step pos + 64b on, and they can still lead to a match that ends
// before `end` only up to step end - length + 64b + 63; so each block runs
// over a window of (end - pos) - length + 64 steps, and the whole search
// costs blocks x that window, at most (text length)^2 / 256 for a piece of
// half the text's length.
std::size_t LikePattern::findBlocks(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const
{
    const std::uint32_t blocks = seg.blocks;
    const std::size_t slack = end - pos - seg.length; // the caller made sure end - pos >= length
    const std::uint64_t hit = std::uint64_t(1) << ((seg.length - 1) % 64);
    std::uint64_t *state = m_state.data();
    std::fill(state, state + blocks, 0);
    std::uint64_t *order = m_chunkOrder.data(), *chunkMasks = m_chunkMasks.data();
    char32_t *chars = m_chunkChars.data();
    std::uint32_t *ids = m_chunkIds.data();
    for (std::size_t a = pos; a < end; a += kChunk) {
        const std::size_t w = std::min(kChunk, end - a);
        for (std::size_t i = 0; i < w; ++i)
            order[i] = std::uint64_t(s[a + i]) << 32 | i;
        std::sort(order, order + w);
        std::size_t distinct = 0;
        for (std::size_t i = 0; i < w; ++i) {
            const char32_t c = char32_t(order[i] >> 32);
            if (distinct == 0 || chars[distinct - 1] != c)
                chars[distinct++] = c;
            ids[order[i] & 0xFFFFFFFF] = std::uint32_t(distinct - 1);
        }
        // carryIn[i] / carryOut[i]: a block's top bit before step a + i;
        // carriesIn: whether any of them is set.
        std::uint8_t *carryIn = m_carryIn.data(), *carryOut = m_carryOut.data();
        bool carriesIn = true;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            // The block's window, in chunk steps [lo, hi).
            const std::size_t windowLo = pos + 64 * std::size_t(b), windowHi = windowLo + slack + 64;
            if (windowLo >= a + w)
                break; // neither this block nor the ones after it have begun
            const std::size_t lo = windowLo > a ? windowLo - a : 0, hi = std::min(w, windowHi - std::min(windowHi, a));
            // Steps past the window hand on nothing; the next block's window
            // ends 64 steps later.
            const auto clearCarries = [&](std::size_t first) {
                std::fill(carryOut + first, carryOut + std::min(w, hi + 64) + 1, 0);
            };
            std::uint64_t st = state[b];
            if (lo >= hi || (st == 0 && !carriesIn)) {
                // Outside the window, or nothing set and nothing coming in: the
                // block stays as it is. Its last step before the chunk may
                // still hand a bit on.
                carryOut[lo] = std::uint8_t(st >> 63);
                carriesIn = carryOut[lo];
                clearCarries(lo + 1);
                std::swap(carryIn, carryOut);
                continue;
            }
            const std::uint32_t from = m_blockSteps[seg.firstBlock + b], to = m_blockSteps[seg.firstBlock + b + 1];
            const char32_t *steps = m_stepFrom.data() + from;
            const std::uint64_t *masks = m_stepMask.data() + from;
            const auto run = [&](auto maskAt) {
                if (b + 1 < blocks) {
                    carryOut[lo] = std::uint8_t(st >> 63);
                    std::uint8_t any = carryOut[lo];
                    for (std::size_t i = lo; i < hi; ++i) {
                        st = ((st << 1) | (b == 0 ? 1 : carryIn[i])) & maskAt(i);
                        carryOut[i + 1] = std::uint8_t(st >> 63);
                        any |= carryOut[i + 1];
                    }
                    carriesIn = any;
                    clearCarries(hi + 1);
                    std::swap(carryIn, carryOut);
                    return npos;
                }
                for (std::size_t i = lo; i < hi; ++i) {
                    st = ((st << 1) | carryIn[i]) & maskAt(i);
                    if (st & hit)
                        return a + i + 1;
                }
                return npos;
            };
            std::size_t found;
            if (to - from == 1) {
                // One mask for every character (a block of '?' only).
                found = run([mask = masks[0]](std::size_t) { return mask; });
            } else {
                for (std::size_t d = 0, k = 0; d < distinct; ++d) {
                    while (from + k + 1 < to && steps[k + 1] <= chars[d])
                        ++k;
                    chunkMasks[d] = masks[k];
                }
                found = run([&](std::size_t i) { return chunkMasks[ids[i]]; });
            }
            if (found != npos)
                return found;
            state[b] = st;
        }
    }
    return npos;
}

bool LikePattern::matchFolded(const char32_t *s, std::size_t n) const
{
    const Segment &first = m_segments.front();
    if (!m_hasStar)
        return n == first.length && matchesAt(first, s);
    const Segment &last = m_segments.back();
    if (n < std::size_t(first.length) + last.length || !matchesAt(first, s)
        || !matchesAt(last, s + n - last.length))
        return false;
    std::size_t pos = first.length;
    const std::size_t end = n - last.length;
    for (std::size_t i = 1; i + 1 < m_segments.size(); ++i) {
        const Segment &seg = m_segments[i];
        if (seg.length == 0)
            continue;
        if (end - pos < seg.length)
            return false;
        pos = find(seg, s, pos, end);
        if (pos == npos)
            return false;
    }
    return true;
}

// The same for a plain pattern on text that matches byte for byte (see
// isPlainUtf8): every piece is found where its UTF-8 bytes are.
bool LikePattern::matchBytes(const char *s, std::size_t n) const
{
    const char *utf8 = m_utf8.data();
    auto equalAt = [&](const Segment &seg, std::size_t at) {
        return seg.utf8Size == 0 || std::memcmp(s + at, utf8 + seg.utf8First, seg.utf8Size) == 0;
    };
    const Segment &first = m_segments.front();
    if (!m_hasStar)
        return n == first.utf8Size && equalAt(first, 0);
    const Segment &last = m_segments.back();
    if (n < std::size_t(first.utf8Size) + last.utf8Size || !equalAt(first, 0) || !equalAt(last, n - last.utf8Size))
        return false;
    std::size_t pos = first.utf8Size;
    const std::size_t end = n - last.utf8Size;
    for (std::size_t i = 1; i + 1 < m_segments.size(); ++i) {
        const Segment &seg = m_segments[i];
        if (seg.utf8Size == 0)
            continue;
        if (end - pos < seg.utf8Size)
            return false;
        const char *at = findBytes(s + pos, end - pos, utf8 + seg.utf8First, seg.utf8Size);
        if (!at)
            return false;
        pos = std::size_t(at - s) + seg.utf8Size;
    }
    return true;
}

char32_t *LikePattern::textSpace(std::size_t n) const
{
    if (n > m_textCapacity) {
        m_textCapacity = std::max({n, 2 * m_textCapacity, std::size_t(256)});
        m_text.reset(new char32_t[m_textCapacity]);
    }
    return m_text.get();
}

bool LikePattern::matches(QStringView text) const
{
    const std::size_t size = std::size_t(text.size());
    char32_t *s = textSpace(size);
    return matchFolded(s, foldUtf16(text.utf16(), size, s));
}

bool LikePattern::matchesUtf8(const char *text, std::size_t size) const
{
    const auto *z = reinterpret_cast<const unsigned char *>(text);
    if (m_plain && isPlainUtf8(z, size, !m_onlySelfMatching))
        return matchBytes(text, size);
    if (!m_required.empty() && !findBytes(text, size, m_required.data(), m_required.size())
        && isPlainUtf8(z, size, false))
        return false;
    char32_t *s = textSpace(size);
    return matchFolded(s, foldUtf8(z, size, s));
}

} // namespace store
