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

// Reads the whole table as it is now, so that books another program added
// or changed count too. A title that is empty once folded is no book to
// compare: nothing is found. Throws store::Error.
SameBooks findSameBooks(const Connection &connection, const QString &title, const QString &author, int limit);

} // namespace store
