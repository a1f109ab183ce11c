#include "like_reference.h"

#include <QChar>

namespace likeref {

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

char32_t foldCase(char32_t c)
{
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    return QChar::toCaseFolded(c);
}

// Folds text into code points; see foldForMatch.
std::u32string foldToUcs4(QStringView text)
{
    std::u32string out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            out.push_back(QChar::surrogateToUcs4(c, text[++i].unicode()));
            continue;
        }
        if (c >= 0xFF01 && c <= 0xFF5E) {
            c -= 0xFEE0; // full-width ASCII
        } else if (c == 0x3000) {
            c = u' '; // ideographic space
        } else if (c >= 0xFF61 && c <= 0xFF9F) {
            c = kHalfWidthKana[c - 0xFF61];
            const char16_t next = i + 1 < n ? text[i + 1].unicode() : 0;
            if (next == 0xFF9E && voiced(c)) {
                c = voiced(c);
                ++i;
            } else if (next == 0xFF9F && isHaHang(c)) {
                c += 2;
                ++i;
            }
        }
        out.push_back(foldCase(c));
    }
    return out;
}

} // namespace

std::u32string fold(QStringView text) { return foldToUcs4(text); }

Pattern::Pattern(QStringView pattern)
{
    // Literal runs are folded as whole strings, so that a half-width kana and
    // its sound mark fold into one character as they do in the text.
    QString literals;
    auto flushLiterals = [&] {
        for (char32_t c : foldToUcs4(literals))
            m_tokens.push_back({Token::Literal, c, false, {}});
        literals.clear();
    };
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = pattern[i];
        if (c == u'*' || c == u'?' || c == u'#') {
            flushLiterals();
            m_tokens.push_back({c == u'*' ? Token::AnyRun : c == u'?' ? Token::AnyOne : Token::Digit,
                                0, false, {}});
            continue;
        }
        if (c == u'[') {
            const qsizetype close = pattern.indexOf(u']', i + 1);
            if (close > i) {
                flushLiterals();
                QStringView body = pattern.mid(i + 1, close - i - 1);
                Token t{Token::Class, 0, false, {}};
                if (body.startsWith(u'!')) {
                    t.negated = true;
                    body = body.mid(1);
                }
                const std::u32string chars = foldToUcs4(body);
                for (size_t k = 0; k < chars.size(); ++k) {
                    if (k + 2 < chars.size() && chars[k + 1] == U'-') {
                        t.ranges.push_back({chars[k], chars[k + 2]});
                        k += 2;
                    } else {
                        t.ranges.push_back({chars[k], chars[k]});
                    }
                }
                m_tokens.push_back(std::move(t));
                i = close;
                continue;
            }
        }
        literals.append(c);
    }
    flushLiterals();
}

bool Pattern::tokenMatches(const Token &t, char32_t c) const
{
    switch (t.kind) {
    case Token::Literal: return t.ch == c;
    case Token::AnyOne: return true;
    case Token::Digit: return c >= U'0' && c <= U'9';
    case Token::Class: {
        bool in = false;
        for (const Range &r : t.ranges)
            in = in || (c >= r.lo && c <= r.hi);
        return in != t.negated;
    }
    case Token::AnyRun: break;
    }
    return false;
}

bool Pattern::matches(QStringView text) const
{
    const std::u32string s = foldToUcs4(text);
    // Every token but '*' takes exactly one character, so the usual
    // two-pointer match with a single backtrack point is exact.
    const size_t n = s.size(), m = m_tokens.size();
    size_t t = 0, p = 0, starP = SIZE_MAX, starT = 0;
    while (t < n) {
        if (p < m && m_tokens[p].kind == Token::AnyRun) {
            starP = p++;
            starT = t;
        } else if (p < m && tokenMatches(m_tokens[p], s[t])) {
            ++p;
            ++t;
        } else if (starP != SIZE_MAX) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < m && m_tokens[p].kind == Token::AnyRun)
        ++p;
    return p == m;
}

} // namespace likeref
