#pragma once

class QString;
class QWidget;

namespace store {
class RecordSet;
}

namespace screens {

// "Excelデータ変換": writes the rows of the list on screen into the workbook
// `destination`, watched by a small progress window; its folder is made when
// missing. An existing file is replaced only when the user agrees. A failure
// is reported in a message box naming the file, and leaves any earlier file
// as it was. Returns true when the workbook was written.
bool exportList(QWidget *parent, const store::RecordSet &rs, const QString &destination);

} // namespace screens
