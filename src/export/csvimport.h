#pragma once

#include "export/csvcodec.h"
#include "export/csvreader.h"
#include "store/bookappend.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace store {
class Connection;
}

// Reading books from a CSV file: which columns hold which field, the checks
// every value passes before anything is written, and the import itself.
namespace exporting {

// Something in the file that keeps it from being imported. `line` is the
// line of the file (from 1) where the record begins; 0 concerns the whole file.
struct Problem {
    qint64 line = 0;
    QString reason;
};
// "12 行目: reason", or the reason alone for the whole file.
QString describe(const Problem &problem);

// Where the fields are in the file. A first line that names at least one
// of the nine fields is a heading: its columns are matched by name in any
// order (blanks around a name, full-width and half-width forms do not
// matter), and its other columns are left out. Without a heading the first
// nine columns are the nine fields in their order.
struct Layout {
    bool heading = false;
    int width = 0;                             // the columns every line has
    std::array<int, store::FieldCount> column; // the column of each field; -1 when the file has none
    QStringList ignored;                       // the columns left out, as the user knows them
};

// A number field's text as the whole number it stands for ("0123", "１２３",
// " -5 "), in plain digits; nullopt when it is not a whole number that a
// 64-bit integer holds.
std::optional<QString> wholeNumber(const QString &text);
// A heading's text in the form it is compared in.
QString foldedHeading(const QString &text);

// Told how many bytes of the file have been read; returns false to stop.
using ReadProgress = std::function<bool(qint64 bytes)>;

// The encoding of the file: UTF-8 when it begins with a byte order mark or
// when all of it is well-formed UTF-8, else Shift_JIS (CP932). Reads the
// whole file, block by block. Throws store::Error naming the file when it
// cannot be read (missing, a folder, no permission).
Encoding detectEncoding(const QString &path);

// The books of a CSV file, one at a time, checked as the registration
// screen checks what is typed: 蔵書番号 and 出版年 whole numbers (full-width
// digits too), 貸出 可, 中 or empty; an empty value is NULL. Blank lines
// and lines of commas alone are skipped.
class BookSource {
public:
    // Opens the file; throws store::Error naming it when it cannot be read.
    BookSource(const QString &path, Encoding encoding);
    ~BookSource();

    // Reads the layout from the first line. A problem here (an empty file,
    // too few columns) means there is nothing to import.
    std::optional<Problem> start();
    const Layout &layout() const { return m_layout; }

    enum class Next { Book, Problem, End };
    // The next book, checked; or the problem of its line. A quote left open
    // ends the file with its problem. Throws store::Error when reading fails.
    Next next(store::BookTexts &book, Problem &problem);
    // The next line's texts without checks (undecodable bytes shown as
    // U+FFFD), for a preview; false at the end.
    bool nextUnchecked(store::BookTexts &book);

    qint64 bytesRead() const { return m_reader->bytesRead(); }

private:
    bool read(Problem *problem);
    std::optional<Problem> decodeRecord(bool lenient);

    QString m_path;
    Encoding m_encoding;
    QFile m_file;
    std::unique_ptr<RecordReader> m_reader;
    Decoder m_decoder;
    Layout m_layout;
    bool m_replay = false; // the first line is a book, read again
    bool m_ended = false;
    QList<QString> m_cells;
};

struct Preview {
    Layout layout;
    QList<store::BookTexts> books;  // the first lines, unchecked
    std::optional<Problem> problem; // the file holds nothing to import
};
// The layout and the first `maxBooks` books of the file. Throws store::Error.
Preview preview(const QString &path, Encoding encoding, int maxBooks);

// The result of checking a whole file: the books it holds, and every line
// that fails (the first MaxProblems of them kept, all counted).
struct Check {
    qint64 books = 0;
    QList<Problem> problems;
    qint64 problemCount = 0;
    bool cancelled = false;
};
inline constexpr int MaxProblems = 100;
Check checkFile(const QString &path, Encoding encoding, const ReadProgress &progress = {});

// The user stopped the import; nothing was written.
struct Cancelled {};

// Appends every book of the file to the collection in one transaction and
// returns how many. Any problem in the file, a failed write or a cancel
// (exporting::Cancelled) leaves the collection as it was; problems and failures
// throw store::Error naming the file.
qint64 importFile(store::Connection &connection, const QString &path, Encoding encoding,
                  const ReadProgress &progress = {});

} // namespace exporting
