#pragma once

#include <QString>
#include <QStringView>
#include <vector>

namespace store {

// Folds text for pattern matching: letter case and the full-width /
// half-width difference are ignored, so "ＡＢＣ", "abc" and "Abc" fold alike,
// and half-width katakana fold to their full-width forms.
QString foldForMatch(QStringView text);

// A compiled pattern of the classic desktop database engine's LIKE:
//   *  any run of characters     ?  any one character     #  one digit
//   [abc] [a-z] one of a class   [!abc] one character not in the class
// Anything else matches itself (after folding). A '[' without its closing
// ']' is taken as a literal '['.
class LikePattern {
public:
    explicit LikePattern(QStringView pattern);
    bool matches(QStringView text) const;

private:
    struct Range { char32_t lo, hi; };
    struct Token {
        enum Kind { Literal, AnyRun, AnyOne, Digit, Class } kind;
        char32_t ch = 0;
        bool negated = false;
        std::vector<Range> ranges;
    };
    bool tokenMatches(const Token &t, char32_t c) const;

    std::vector<Token> m_tokens;
};

} // namespace store
