#include "store/like.h"

#include "store/foldtables.h"

#include <QChar>

#include <algorithm>
#include <cstring>

namespace store {

namespace {

constexpr std::size_t npos = std::size_t(-1);
constexpr char32_t kMaxChar = 0xFFFFFFFF;

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
    std::uint32_t first = 0, length = 0;       // its characters in m_positions
    std::uint32_t failure = 0;                 // Plain: its table in m_failure
    std::uint32_t firstBlock = 0, blocks = 0;  // Mixed: its blocks in m_blockSteps
    std::uint32_t utf8First = 0, utf8Size = 0; // Plain: its bytes in m_utf8
};

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
        std::sort(toggles.begin(), toggles.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
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
    if (n < std::size_t(first.length) + last.length || !matchesAt(first, s) || !matchesAt(last, s + n - last.length))
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
