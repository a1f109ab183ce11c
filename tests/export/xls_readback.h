#pragma once

// Reading written workbooks back for the tests, four independent ways:
// FreeXL (C library), Python's xlrd, LibreOffice (converting each worksheet
// to CSV), and a small parser of our own that checks what the readers
// ignore: the stream offsets in EXTSST and BOUNDSHEET, record sizes, the
// order of ROW and cell records, and how the string table is split.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

// A worksheet read back: grid[row][column] is an invalid QVariant for an
// empty cell, a QString for text, a double for a number.
using SheetCells = std::vector<std::vector<QVariant>>;

// Every worksheet, in the workbook's order.
struct SheetsRead {
    QStringList names;
    std::vector<SheetCells> sheets;
};

// The first worksheet, as a reader that opens only that one sees it.
bool readWithFreeXl(const QString &path, SheetCells &grid, QString &error);
bool readWithFreeXl(const QString &path, SheetsRead &book, QString &error);
// Returns false with `error`; sets `unavailable` when xlrd is not installed.
bool readWithXlrd(const QString &path, SheetCells &grid, QString &error, bool &unavailable);
bool readWithXlrd(const QString &path, SheetsRead &book, QString &error, bool &unavailable);
// LibreOffice converts every worksheet to a CSV file; the cells come back
// as the texts it shows (numbers too), empty cells as invalid QVariants.
// The sheets are in the order of their names' numbers ("Sheet1", "Sheet2"...).
// Sets `unavailable` when soffice is not installed.
bool readWithLibreOffice(const QString &path, SheetsRead &book, QString &error, bool &unavailable);

struct RawWorkbook {
    QStringList sheetNames;         // as the BOUNDSHEET records give them
    QStringList strings;            // the shared string table, decoded
    quint32 difatSectors = 0;       // DIFAT sectors found in the compound file
    int continuesAtStringStart = 0; // CONTINUE records starting with a new string
    int continuesInsideString = 0;  // CONTINUE records going on with a string
};
// Finds the stream named Workbook through the compound file's header, DIFAT,
// FAT and directory. Returns an empty string or what is wrong.
QString readWorkbookStream(const QByteArray &file, QByteArray &stream, RawWorkbook &raw);
// Returns an empty string when the file's structure is sound, otherwise
// what is wrong.
QString checkStructure(const QByteArray &file, RawWorkbook &raw);
