#include "screens/common/numberbox.h"

#include <array>

namespace screens {

namespace {

// Whether the compatibility form of a character is the ASCII character the
// user meant: the full-width ASCII block and the ideographic space.
bool isFullWidthAscii(char16_t c) { return (c >= 0xFF01 && c <= 0xFF5E) || c == 0x3000; }

struct Era {
    std::array<QStringView, 3> names; // full name, short name, letter
    int firstYear;
};

constexpr Era kEras[] = {
    {{u"明治", u"明", u"M"}, 1868}, {{u"大正", u"大", u"T"}, 1912}, {{u"昭和", u"昭", u"S"}, 1926},
    {{u"平成", u"平", u"H"}, 1989}, {{u"令和", u"令", u"R"}, 2019},
};

// A year of an era, 1 to 99: digits, "元", or kanji numerals (三, 十, 二十,
// 六十三...).
std::optional<int> eraYearNumber(QStringView s)
{
    if (s == u"元")
        return 1;
    if (s.isEmpty() || s.size() > 3)
        return std::nullopt;
    bool ok = false;
    const int digits = s.toInt(&ok);
    if (ok && s[0].isDigit())
        return digits >= 1 && digits <= 99 ? std::optional<int>(digits) : std::nullopt;
    constexpr QStringView kDigits = u"〇一二三四五六七八九";
    const auto digit = [&](QChar c) { return int(kDigits.indexOf(c)); };
    const qsizetype ten = s.indexOf(u'十');
    if (ten < 0)
        return s.size() == 1 && digit(s[0]) > 0 ? std::optional<int>(digit(s[0])) : std::nullopt;
    // [tens]十[units]
    int tens = 1, units = 0;
    if (ten == 1 && (tens = digit(s[0])) < 2)
        return std::nullopt;
    if (ten > 1)
        return std::nullopt;
    if (ten + 1 < s.size()) {
        if (ten + 2 != s.size() || (units = digit(s[ten + 1])) < 1)
            return std::nullopt;
    }
    return tens * 10 + units;
}

} // namespace

QString foldNumberText(QStringView text)
{
    QString out = text.toString();
    for (QChar &c : out) {
        if (isFullWidthAscii(c.unicode()))
            c = QString(c).normalized(QString::NormalizationForm_KC).at(0);
        else if (c == u'−')
            c = u'-';
    }
    return out;
}

std::optional<int> yearFromText(QStringView text)
{
    // The compatibility form reads full-width digits and letters as ASCII
    // and the era signs ㍾㍽㍼㍻㋿ as their two kanji.
    QString s = text.toString().normalized(QString::NormalizationForm_KC);
    s.remove(u' ');
    const bool yearSign = s.endsWith(u'年');
    if (yearSign)
        s.chop(1);
    for (const Era &era : kEras) {
        for (QStringView name : era.names) {
            if (s.startsWith(name, Qt::CaseInsensitive)) {
                if (const std::optional<int> n = eraYearNumber(QStringView(s).sliced(name.size())))
                    return era.firstYear + *n - 1;
                return std::nullopt;
            }
        }
    }
    // A Western year with "年".
    bool ok = false;
    const int year = s.toInt(&ok);
    if (yearSign && ok && !s.isEmpty() && s.size() <= 4 && s[0].isDigit())
        return year;
    return std::nullopt;
}

NumberBox::NumberBox(QWidget *parent) : TextBox(parent)
{
    // Every change by the user passes here (typing, pasting, dropping and
    // an input method's commit), a value shown from the record does not.
    connect(this, &QLineEdit::textEdited, this, [this](const QString &typed) {
        if (holdsLongValue())
            return;
        const QString folded = foldNumberText(typed);
        if (folded == typed)
            return;
        const int cursor = cursorPosition();
        setText(folded);
        setCursorPosition(cursor);
    });
}

YearBox::YearBox(QWidget *parent) : NumberBox(parent)
{
    connect(this, &QLineEdit::editingFinished, this, &YearBox::convertEraYear);
}

QString YearBox::value() const
{
    const QString shown = NumberBox::value();
    if (const std::optional<int> year = yearFromText(shown))
        return QString::number(*year);
    return shown;
}

bool YearBox::convertEraYear()
{
    if (holdsLongValue())
        return false;
    const std::optional<int> year = yearFromText(text());
    if (!year)
        return false;
    setText(QString::number(*year));
    return true;
}

} // namespace screens
