#pragma once

// The folding tables behind store::foldForMatch and the matcher of LIKE:
// what the matcher needs to fold text character by character as it reads
// it. The rules themselves are in fold.cpp.

#include "store/utf8.h"

#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace store {

constexpr char16_t kHalfWidthFirst = 0xFF61, kHalfWidthLast = 0xFF9F;
constexpr char16_t kVoicedMark = 0xFF9E, kSemiVoicedMark = 0xFF9F;
constexpr unsigned kHalfWidthCount = kHalfWidthLast - kHalfWidthFirst + 1;

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

const FoldTables &foldTables();

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

// Folds UTF-16 text into code points; returns how many. `out` has room for
// `n` of them. A pair of surrogates is one character; a lone one stays as
// it is.
std::size_t foldUtf16(const char16_t *u, std::size_t n, char32_t *out);
// Folds UTF-8 text (read as readUtf8 does) into code points; returns how
// many. `out` has room for `n` of them.
std::size_t foldUtf8(const unsigned char *z, std::size_t n, char32_t *out);
// Folds UTF-16 text into a vector of code points.
std::vector<char32_t> foldToVector(QStringView text);

// Whether UTF-8 text can be matched as it is, byte for byte: it is
// well-formed UTF-8 without U+FFFE or U+FFFF and, when `unfolded` is asked
// for, none of its characters changes when folded.
bool isPlainUtf8(const unsigned char *z, std::size_t n, bool unfolded);

} // namespace store
