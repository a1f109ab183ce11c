#pragma once

#include "export/csvcodec.h"

#include <QString>
#include <functional>

namespace store {
class RecordSet;
}

namespace exporting {

struct ExportOutcome {
    enum class Status {
        Written,     // the file is complete
        Cancelled,   // the user stopped it; nothing was written
        Unencodable, // a character cannot be written in the encoding; nothing was written
        Failed,      // reading or writing failed; nothing was written
    };
    Status status = Status::Failed;
    // Unencodable: the book, field and character; Failed: what failed, the
    // file and the reason (three lines).
    QString message;
    qint64 books = 0; // the books written
};

// Told how many books are written so far; returns false to stop.
using Progress = std::function<bool(qint64 done)>;

// Writes the rows of `rows`, in their order, to `path` as CSV: a heading
// line with the nine field names, then one line per book, every field in
// double quotes, lines ending in CR LF, NULL as an empty field, numbers as
// plain digits. UTF-8 files begin with a byte order mark, so that Excel
// reads them as UTF-8. The file replaces `path` only once complete; any
// failure, a cancel or an unencodable character leaves what was there.
ExportOutcome exportCsv(const store::RecordSet &rows, const QString &path, Encoding encoding,
                        const Progress &progress = {});

} // namespace exporting
