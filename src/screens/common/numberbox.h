#pragma once

#include "screens/common/textbox.h"

#include <optional>

namespace screens {

// Text typed into a number box with its full-width forms folded to ASCII:
// the full-width digits, signs, letters and punctuation, the ideographic
// space and the minus sign "−" become their ASCII forms, as Unicode's
// compatibility normalisation (NFKC) reads them. Each character stays one
// character, so a cursor position keeps its place.
QString foldNumberText(QStringView text);

// The Western year of a year as a colophon writes it: a Japanese era by
// name, short name or letter and the year of the era, in digits, in kanji
// numerals or as "元" (the first year), with or without "年"; also a Western
// year followed by "年". "昭和63", "昭63", "S63", "Ｓ６３", "㍼63", "平成元",
// "H1", "R5", "令和5年", "平成三十年" and "1988年" all read. Year N of an era
// is the era's first year + N - 1 (明治 1868, 大正 1912, 昭和 1926, 平成 1989,
// 令和 2019); a year beyond the era's last one is counted on, as books
// printed before an era ended sometimes say. nullopt for any other text.
std::optional<int> yearFromText(QStringView text);

// A box for a number column: whatever reaches it by the user (typing,
// pasting, dropping, an input method's committed text) has its full-width
// forms folded at once, so that a number typed in full-width digits is
// stored as a number, never as text. A value shown from the record is
// left as it is.
class NumberBox : public TextBox {
    Q_OBJECT
public:
    explicit NumberBox(QWidget *parent = nullptr);
};

// The year box: a number box that also reads a year written in a Japanese
// era (yearFromText) and shows the Western year in its place when the user
// leaves the box or presses Enter. Its value is that Western year even
// before then, so an era year is never stored as text.
class YearBox : public NumberBox {
    Q_OBJECT
public:
    explicit YearBox(QWidget *parent = nullptr);
    QString value() const override;

    // Shows the Western year in place of an era year; true when it did.
    bool convertEraYear();
};

} // namespace screens
