// The store's LIKE: pattern compiler and matcher on any input, compared
// with the test oracle (tests/store/like_reference), which is slow but
// simple and folds by rules of its own, and with SQLite's own reading of
// stored bytes. The comparison of titles and authors (folded, blanks left
// out) is compared with the oracle's folding too.
//
// Input: the pattern in UTF-8 up to the first newline, then the stored
// text's bytes, valid UTF-8 or not. An input that starts with a zero byte
// holds UTF-16 instead (lone surrogates included): the second byte says how
// many of the code units after it are the pattern, the rest is the text.

#include "store/like.h"
#include "store/like_reference.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace {

// The text SQLite hands out as UTF-16 for these stored bytes.
QString sqliteUtf16(const char *bytes, int size)
{
    static sqlite3_stmt *select = [] {
        sqlite3 *db = nullptr;
        sqlite3_stmt *st = nullptr;
        if (sqlite3_open(":memory:", &db) != SQLITE_OK
            || sqlite3_prepare_v2(db, "SELECT ?1", -1, &st, nullptr) != SQLITE_OK)
            std::abort();
        return st;
    }();
    sqlite3_reset(select);
    sqlite3_bind_text(select, 1, bytes, size, SQLITE_STATIC);
    if (sqlite3_step(select) != SQLITE_ROW)
        std::abort();
    return QString(static_cast<const QChar *>(sqlite3_column_text16(select, 0)), sqlite3_column_bytes16(select, 0) / 2);
}

void expect(bool got, bool expected, const char *what)
{
    if (got != expected) {
        std::fprintf(stderr, "%s: %d, the oracle says %d\n", what, got, expected);
        std::abort();
    }
}

// The oracle's folding of a text without its blanks.
std::u32string oracleWithoutBlanks(const QString &text)
{
    std::u32string out;
    for (char32_t c : likeref::fold(text)) {
        if (c != U' ' && !(c >= U'\t' && c <= U'\r') && c != 0xA0)
            out.push_back(c);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 0 && data[0] == 0) {
        const std::size_t units = size > 2 ? (size - 2) / 2 : 0;
        QString all(qsizetype(units), Qt::Uninitialized);
        std::memcpy(all.data(), data + 2, units * 2);
        const qsizetype patternUnits = size > 1 ? qsizetype(data[1] % (units + 1)) : 0;
        const QString pattern = all.left(patternUnits), text = all.mid(patternUnits);
        const store::LikePattern like(pattern);
        const bool expected = likeref::Pattern(pattern).matches(text);
        expect(like.matches(text), expected, "UTF-16");
        expect(like.matches(text), expected, "UTF-16, the same pattern again");
        return 0;
    }
    const auto *chars = reinterpret_cast<const char *>(data);
    const auto *newline = static_cast<const char *>(std::memchr(chars, '\n', size));
    const std::size_t patternSize = newline ? std::size_t(newline - chars) : size;
    const QString pattern = QString::fromUtf8(chars, qsizetype(patternSize));
    const char *bytes = chars + std::min(size, patternSize + 1);
    const int byteCount = int(size - std::min(size, patternSize + 1));
    const QString text = sqliteUtf16(bytes, byteCount);

    const store::LikePattern like(pattern);
    const bool expected = likeref::Pattern(pattern).matches(text);
    // A valid U+FFFE or U+FFFF is read as itself, where SQLite's UTF-16
    // has U+FFFD; the unit test covers those bytes.
    const std::string_view stored(bytes, std::size_t(byteCount));
    const bool comparable = stored.find("\xEF\xBF\xBE") == stored.npos && stored.find("\xEF\xBF\xBF") == stored.npos;
    if (comparable)
        expect(like.matchesUtf8(bytes, std::size_t(byteCount)), expected, "UTF-8");
    expect(like.matches(text), expected, "UTF-16");
    if (comparable)
        expect(like.matchesUtf8(bytes, std::size_t(byteCount)), expected, "UTF-8, the same pattern again");

    const std::u32string key = oracleWithoutBlanks(pattern);
    expect(store::foldWithoutBlanks(pattern) == key, true, "a title folded without blanks");
    if (comparable) {
        expect(store::equalsFoldedWithoutBlanks(bytes, std::size_t(byteCount), oracleWithoutBlanks(text)), true,
               "stored bytes against their own folding");
        expect(store::equalsFoldedWithoutBlanks(bytes, std::size_t(byteCount), key), oracleWithoutBlanks(text) == key,
               "stored bytes against the title");
    }
    return 0;
}
