#pragma once

class QWidget;

namespace store {
class RecordSet;
}

// The two CSV commands of the data screens' file menu.
namespace screens {

// "CSV ファイルに書き出す(&E)...": asks for the file and its encoding (Qt's
// save dialog, in the application directory), then writes `shown` (the list
// as it is on screen) or, when null, every book by 蔵書番号, watched by a
// progress window with 「キャンセル」. A character that Shift_JIS cannot hold
// stops the export before anything is written; the user may then write
// UTF-8 instead. Failures are reported naming the file.
void exportCsv(QWidget *parent, const store::RecordSet *shown);

// "CSV ファイルから取り込む(&I)...": asks for the file, shows its first
// books, checks every line, and only when all are good appends the books
// in one transaction after the day's backup. Returns true when books were
// added.
bool importCsv(QWidget *parent);

} // namespace screens
