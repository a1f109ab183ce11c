#pragma once

class QWidget;

namespace store {
class RecordSet;
}

namespace screens {

// "Excelデータ変換": writes the rows of the list on screen into
// "ブクレア.xls" of the application directory, watched by a small progress
// window. An existing file is replaced only when the user agrees. A failure
// is reported in a message box naming the file, and leaves any earlier file
// as it was. Returns true when the workbook was written.
bool exportList(QWidget *parent, const store::RecordSet &rs);

} // namespace screens
