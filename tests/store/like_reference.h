#pragma once

// The test oracle of the store's LIKE: folds the whole text into code points
// by rules of its own (Unicode's compatibility normalisation for width, a
// katakana / hiragana table written from the Unicode charts, Qt's case
// folding), then walks pattern and text with a single backtrack point for
// the last '*'. Simple enough to trust, quadratic in the worst case; the
// tests and the fuzz target compare the store's matcher with it.

#include <QString>
#include <QStringView>
#include <string>
#include <vector>

namespace likeref {

std::u32string fold(QStringView text);

class Pattern {
public:
    explicit Pattern(QStringView pattern);
    bool matches(QStringView text) const;

private:
    struct Range {
        char32_t lo, hi;
    };
    struct Token {
        enum Kind { Literal, AnyRun, AnyOne, Digit, Class } kind;
        char32_t ch = 0;
        bool negated = false;
        std::vector<Range> ranges;
    };
    bool tokenMatches(const Token &t, char32_t c) const;

    std::vector<Token> m_tokens;
};

} // namespace likeref
