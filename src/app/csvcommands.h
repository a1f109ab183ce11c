#pragma once

#include <QStringList>

class QTextStream;

// The windowless commands that take the collection beside the program out
// to a CSV file and bring books in from one.
namespace app {

// bukurea --export-csv FILE [--encoding utf-8|cp932] [--force]: writes every
// book, by 蔵書番号, to FILE; an existing FILE only with --force.
int exportCsvCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);
// bukurea --import-csv FILE [--encoding utf-8|cp932]: adds the books of
// FILE, after today's backup, and prints how many.
int importCsvCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace app
