#include "like_reference.h"

#include <QChar>
#include <QList>

#include <iterator>
#include <utility>

namespace likeref {

namespace {

// Katakana and their hiragana twins, written out from the Unicode charts
// (Hiragana U+3040..U+309F, Katakana U+30A0..U+30FF): the n-th character of
// one is the n-th of the other. Katakana without a twin (ヷヸヹヺ, ー) are
// not listed and stay as they are.
constexpr char16_t kKatakana[] =
    u"ァアィイゥウェエォオカガキギクグケゲコゴサザシジスズセゼソゾタダチヂッツヅテデトドナニヌネノ"
    u"ハバパヒビピフブプヘベペホボポマミムメモャヤュユョヨラリルレロヮワヰヱヲンヴヵヶヽヾ";
constexpr char16_t kHiragana[] =
    u"ぁあぃいぅうぇえぉおかがきぎくぐけげこごさざしじすずせぜそぞただちぢっつづてでとどなにぬねの"
    u"はばぱひびぴふぶぷへべぺほぼぽまみむめもゃやゅゆょよらりるれろゎわゐゑをんゔゕゖゝゞ";
static_assert(std::size(kKatakana) == std::size(kHiragana));

// The signs written differently by code page 932 and by JIS, as pairs.
constexpr std::pair<char32_t, char32_t> kVariants[] = {
    {U'〜', U'~'},
    {U'−', U'-'},
    {U'∥', U'‖'},
    {U'―', U'—'},
};

bool isHalfWidthKana(char32_t c) { return c >= 0xFF61 && c <= 0xFF9F; }

// Characters whose compatibility form (NFKC) is their folded width: the
// full-width ASCII, the ideographic space and the full-width signs
// ￠￡￢￤￥￦ (not ￣, whose form is two characters).
bool foldsByNfkc(char32_t c)
{
    return (c >= 0xFF01 && c <= 0xFF5E) || c == 0x3000 || (c >= 0xFFE0 && c <= 0xFFE6 && c != 0xFFE3);
}

char32_t foldOne(char32_t c)
{
    for (const auto &[from, to] : kVariants) {
        if (c == from)
            c = to;
    }
    if (c <= 0xFFFF) {
        for (std::size_t i = 0; kKatakana[i]; ++i) {
            if (kKatakana[i] == c)
                c = kHiragana[i];
        }
    }
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    // Case is folded in the Basic Multilingual Plane only, as the store's
    // LIKE folds it; letters beyond it (Deseret, Adlam...) keep their case.
    return c <= 0xFFFF ? QChar::toCaseFolded(c) : c;
}

// Folds text into code points; see foldForMatch. Width goes by Unicode's
// compatibility normalisation (NFKC) of the characters that fold by width:
// a run of half-width katakana normalises into full-width ones, a kana and
// a following sound mark composing into one character where Unicode has
// it; a sound mark left alone becomes the spacing one (゛ ゜), as on a
// keyboard.
std::u32string foldToUcs4(QStringView text)
{
    std::u32string out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    const auto push = [&out](QStringView s) {
        for (char32_t c : s.toUcs4()) {
            if (c == 0x3099)
                c = 0x309B;
            else if (c == 0x309A)
                c = 0x309C;
            out.push_back(foldOne(c));
        }
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            out.push_back(foldOne(QChar::surrogateToUcs4(char16_t(c), text[++i].unicode())));
        } else if (isHalfWidthKana(c)) {
            qsizetype end = i + 1;
            while (end < n && isHalfWidthKana(text[end].unicode()))
                ++end;
            push(text.sliced(i, end - i).toString().normalized(QString::NormalizationForm_KC));
            i = end - 1;
        } else if (foldsByNfkc(c)) {
            push(text.sliced(i, 1).toString().normalized(QString::NormalizationForm_KC));
        } else {
            out.push_back(foldOne(c));
        }
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
            m_tokens.push_back({c == u'*' ? Token::AnyRun : c == u'?' ? Token::AnyOne : Token::Digit, 0, false, {}});
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
