#pragma once

#include <QString>
#include <QStringList>

namespace store {

class Connection;

// Books already in the collection with the same title and author as a new
// one: compared as a search compares text (store::foldForMatch: case, width,
// katakana and hiragana...) with their blanks left out, so "ノルウェイの森"
// by "村上 春樹" is the same book as "ﾉﾙｳｪｲの森" by "村上春樹". A missing
// author is the same as an empty one.
struct SameBooks {
    QStringList numbers; // collection numbers (蔵書番号) as stored, up to the limit asked for
    int count = 0;       // all the books found
};

// Answers from the file's index of titles and authors (samebookindex.h)
// when it is proven current, so that a save need not read every book;
// otherwise rebuilds the index first (one pass over the table), or, where
// the file cannot be written now or keeps no change counter, reads the
// whole table. Books another program added or changed always count. A
// title that is empty once folded is no book to compare: nothing is found.
// Throws store::Error.
SameBooks findSameBooks(Connection &connection, const QString &title, const QString &author, int limit);

} // namespace store
