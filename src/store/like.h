#pragma once

#include "store/fold.h"

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace store {

// A compiled pattern of the store's LIKE:
//   *  any run of characters     ?  any one character     #  one digit
//   [abc] [a-z] one of a class   [!abc] one character not in the class
// Anything else matches itself (after folding). A '[' without its closing
// ']' is taken as a literal '['.
//
// Matching is bounded whatever the input. The pattern is cut at its '*'s
// into pieces of fixed length; the first piece must match at the start, the
// last one at the end, and each other piece is searched for leftmost-first
// after the one before it (the leftmost place leaves the most text for the
// pieces after it, so this finds a match whenever there is one). A piece of
// plain characters is searched with Knuth-Morris-Pratt, time linear in the
// text; a piece with '?', '#' or classes is searched bit-parallel
// (Shift-And), 64 pattern characters per machine word, time proportional to
// piece length / 64 x (text length - piece length + 64), so at most
// (text length)^2 / 256. Memory is linear in pattern and text.
//
// Plain patterns (no '?', '#' or classes) skip the folding of UTF-8 text
// where it cannot change the answer: when the text is valid UTF-8 and either
// none of its characters changes when folded or every character of the
// pattern is one that only itself folds to (kanji...), the
// pattern's UTF-8 bytes are searched in the stored bytes directly. Other
// patterns first look for their longest run of such characters in the
// stored bytes: valid UTF-8 text without it is no match, unfolded.
//
// A pattern keeps scratch space (the folded text and the search's working
// arrays) between calls, so matching a row allocates nothing once the
// space has grown to the longest text seen: one pattern must serve one
// thread at a time.
class LikePattern {
public:
    explicit LikePattern(QStringView pattern);
    ~LikePattern();
    LikePattern(const LikePattern &) = delete;
    LikePattern &operator=(const LikePattern &) = delete;

    bool matches(QStringView text) const;

    // The same for text as SQLite keeps it, in UTF-8. Bytes that are not
    // valid UTF-8 are read the way SQLite reads them when it hands the text
    // out as UTF-16, so both calls agree on every stored value.
    bool matchesUtf8(const char *text, std::size_t size) const;

private:
    struct Position;
    struct Segment;

    void addSegment(std::size_t first, std::size_t end);
    void buildBlocks(Segment &seg);
    bool accepts(const Position &p, char32_t c) const;
    bool matchesAt(const Segment &seg, const char32_t *s) const;
    std::size_t find(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const;
    std::size_t findLiteral(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const;
    std::size_t findOneBlock(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const;
    std::size_t findBlocks(const Segment &seg, const char32_t *s, std::size_t pos, std::size_t end) const;
    bool matchFolded(const char32_t *s, std::size_t n) const;
    bool matchBytes(const char *s, std::size_t n) const;
    char32_t *textSpace(std::size_t n) const;

    std::vector<Position> m_positions;   // every character of every piece
    std::vector<char32_t> m_classRanges; // lo, hi pairs of the classes, sorted and merged
    std::vector<Segment> m_segments;     // the pieces between the '*'s, in order
    bool m_hasStar = false;
    std::vector<std::uint32_t> m_failure; // Knuth-Morris-Pratt tables of the plain pieces
    // Shift-And masks of the other pieces, per block of 64 characters: a
    // step function from a character to the block's positions that accept
    // it, as the characters where it changes and the mask from there on.
    std::vector<char32_t> m_stepFrom;
    std::vector<std::uint64_t> m_stepMask;
    std::vector<std::uint32_t> m_blockSteps; // where each block's steps begin (+1 end)

    // Plain patterns are also kept in UTF-8, for the stored bytes (see above).
    bool m_plain = true;
    bool m_onlySelfMatching = true;
    std::vector<char> m_utf8;
    // Other patterns: the longest run of characters that only themselves
    // fold to, in UTF-8. Valid UTF-8 text without these bytes cannot match.
    std::vector<char> m_required;

    // Scratch space, see above.
    mutable std::unique_ptr<char32_t[]> m_text;
    mutable std::size_t m_textCapacity = 0;
    mutable std::vector<std::uint64_t> m_state, m_chunkOrder, m_chunkMasks;
    mutable std::vector<char32_t> m_chunkChars;
    mutable std::vector<std::uint32_t> m_chunkIds;
    mutable std::vector<std::uint8_t> m_carryIn, m_carryOut;
};

} // namespace store
