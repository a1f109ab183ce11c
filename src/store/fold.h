#pragma once

// Text folded as the store compares it in a search (LIKE) and in the
// same-book question.

#include <QString>
#include <QStringView>

#include <cstddef>
#include <string>
#include <string_view>

namespace store {

// Folds text for pattern matching, as Japanese Access compares text: letter
// case and the full-width / half-width difference are ignored, so "ＡＢＣ",
// "abc" and "Abc" fold alike; half-width katakana fold to their full-width
// forms (with a following half-width sound mark into one voiced or
// semi-voiced character), and katakana to hiragana, so "みかん", "ミカン" and
// "ﾐｶﾝ" fold alike, while small and large kana, and voiced and unvoiced
// ones, stay apart. The signs that Windows and other systems write with
// different characters fold together: 〜～, −－, ‖∥, —―, ¢￠, £￡, ¬￢.
QString foldForMatch(QStringView text);

// Two texts are the same book's title (or author) when they fold alike with
// their blanks (spaces, full-width spaces, tabs...) left out. The text as
// compared: folded, without blanks.
std::u32string foldWithoutBlanks(QStringView text);
// Whether UTF-8 text, as the store keeps it, folds without its blanks to
// `folded` (from foldWithoutBlanks). It stops at the first character that
// differs, so comparing a whole collection costs little more than reading it.
bool equalsFoldedWithoutBlanks(const char *utf8, std::size_t size, std::u32string_view folded);
// The same for UTF-8 text as the store keeps it, read as
// equalsFoldedWithoutBlanks reads it (the text equals `folded` exactly when
// this gives `folded`), into `out`, whose room is used again.
void foldWithoutBlanks(const char *utf8, std::size_t size, std::u32string &out);

} // namespace store
