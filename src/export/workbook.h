#pragma once

#include "export/biff8_writer.h"

#include <QString>
#include <functional>

namespace store {
class RecordSet;
}

namespace exporting {

// The file the export of the list writes: "ブクレア.xls" in the
// application directory, or for an installed program in the user's
// documents folder.
QString exportPath();

// A new workbook whose worksheets receive a record set in bulk and which is
// then saved under a name. It asks nothing and shows nothing: progress and
// failures come back to the caller as values.
class Workbook {
public:
    // Called now and then while rows are copied: rows done, rows in all.
    using Progress = std::function<void(int done, int total)>;

    // Copies every row of the record set, in its order, into the first
    // worksheet ("Sheet1") from cell (1, 1): one row per record, one column
    // per field, no heading. A worksheet holds 65,536 rows; the rows after
    // them go on, in the same way, from cell (1, 1) of "Sheet2", "Sheet3"...
    // Reads the rows in one pass (a sorted list's in the table's own order,
    // each put in its place), so neither the record set's current row nor
    // anything shown from it moves. Returns false, with error(), when a
    // row cannot be read (the file is locked or damaged) or a value cannot
    // be stored (a text longer than a cell holds: the message names the book
    // and the field); then nothing is kept.
    bool copyFromRecordset(const store::RecordSet &rs, const Progress &progress = {});

    // Writes the workbook to `path` through a temporary file beside it that
    // replaces the target only once complete: a failure never leaves a
    // half-written or destroyed workbook. Returns false with error(), which
    // names the file and the system's reason.
    bool saveAs(const QString &path);

    QString error() const { return m_error; }

private:
    std::unique_ptr<Biff8Writer> m_writer = std::make_unique<Biff8Writer>();
    QString m_error;
};

} // namespace exporting
