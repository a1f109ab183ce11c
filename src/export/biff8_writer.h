#pragma once

// Writer of Excel 97-2003 workbooks (BIFF8 records inside a compound file)
// with worksheets of plain cells: texts and numbers, no formatting.
//
// Rows are appended one at a time to the last worksheet and encoded at once
// into compact byte buffers: each worksheet's cell records, and the shared
// string table of the workbook in which every distinct text is kept once.
// write() then streams the whole workbook to a device without building the
// file in memory.
//
// Usage:
//   exporting::Biff8Writer w;
//   for (each row) {
//       if (w.rowCount() == exporting::Biff8Writer::MaxRows) w.addSheet();
//       if (!w.appendRow(cells)) { report w.error(); stop; }
//   }
//   if (!w.write(device)) { report w.error(); }   // any device open for writing

#include "export/textindex.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

class QIODevice;

namespace exporting {

// One worksheet cell as handed to appendRow().
struct Cell {
    enum class Kind { Empty, Text, Number };
    Kind kind = Kind::Empty;
    QString text;
    double number = 0;

    static Cell empty() { return {}; }
    static Cell fromText(const QString &t)
    {
        Cell c;
        c.kind = Kind::Text;
        c.text = t;
        return c;
    }
    static Cell fromNumber(double n)
    {
        Cell c;
        c.kind = Kind::Number;
        c.number = n;
        return c;
    }
};

// The same as a view: the text stays in the caller's buffer, which must
// outlive the appendRow() call it is handed to. A text may come in UTF-8
// instead (kind Text, `text` left empty): it is decoded as the store decodes
// the database's texts, and a text met before is not decoded again.
struct CellView {
    Cell::Kind kind = Cell::Kind::Empty;
    QStringView text;
    double number = 0;
    QByteArrayView utf8;
};

// The 32-bit RK form of a number, when it has one that reads back as
// exactly the same double (every bit, the sign of zero too): a 30-bit
// integer, or the top 30 bits of the double with the rest zero, each
// either as it is or a hundred times the number. Nothing for the rest,
// which take a full 8-byte double.
std::optional<quint32> rkValue(double number);

// One workbook of worksheets named "Sheet1", "Sheet2"... in their order;
// the first one is selected and shown when the workbook is opened.
class Biff8Writer {
public:
    // Rows and columns of one worksheet, UTF-16 units of one cell's text.
    static constexpr int MaxRows = 65536, MaxColumns = 256, MaxTextLength = 32767;

    // A workbook with one empty worksheet, "Sheet1".
    Biff8Writer();
    ~Biff8Writer();
    Biff8Writer(const Biff8Writer &) = delete;
    Biff8Writer &operator=(const Biff8Writer &) = delete;

    // Starts the next worksheet, named "Sheet" and its number (counted from
    // 1); the rows appended from now on go there, from its row 0.
    void addSheet();
    int sheetCount() const { return int(m_sheets.size()); }

    // Appends the next row of the last worksheet (row 0 first). Returns
    // false (and sets error()) when the row would not fit the format: more
    // than MaxRows rows in the worksheet, more than MaxColumns cells, a text
    // longer than MaxTextLength UTF-16 units, a number that is not finite
    // (Excel has no NaN or infinity), or texts that would take the workbook
    // past the 2 GiB the file can hold. The error names the row of the
    // worksheet and the column, 0-based. A refused row leaves the
    // workbook unchanged, so the caller may correct it and append it again.
    //
    // Empty cells and empty texts write nothing: an empty cell. Lone UTF-16
    // surrogates (not valid text) are stored as U+FFFD. A number goes in
    // the short RK form when that holds it exactly (see rkValue()), side by
    // side neighbours in one MULRK record; any other as an 8-byte double.
    bool appendRow(const std::vector<Cell> &cells);
    // The same for cells given as views.
    bool appendRow(const CellView *cells, size_t count);

    // Writes the whole compound file to `out`, which must be open for
    // writing. Returns false with error() on I/O failure or when the
    // workbook exceeds the 2 GiB the format can address. May be called
    // again, also after more rows were appended.
    bool write(QIODevice &out);

    QString error() const { return m_error; }
    // Rows appended to the last worksheet.
    int rowCount() const { return m_sheets.back().rowCount; }

private:
    struct RowInfo { // a row of the block being collected
        quint16 row, firstCol, lastColPlus1;
    };

    // One worksheet's cells. Rows are grouped in blocks of 32 (rows 0-31,
    // 32-63, ...); each finished block is, in order: its ROW records, then
    // its cell records. The finished blocks lie one after another in
    // buffers of a few megabytes that are never reallocated: one buffer
    // grown block by block would be copied anew at every growth, and
    // buffers that large get the system's large memory pages, which saves
    // most of the faults of touching fresh memory.
    struct Sheet {
        QString name;
        int rowCount = 0;
        std::vector<QByteArray> body;
        quint64 bodySize = 0;
        std::vector<RowInfo> blockRows; // the block being collected
        QByteArray blockCells;
        // Used range: rows and columns that hold at least one cell.
        int firstRow = -1, lastRow = -1, firstCol = -1, lastCol = -1;
    };
    // A worksheet's substream as write() streams it: the records before
    // the cell blocks, the block not yet finished, the records after.
    struct SheetStream {
        QByteArray head, pending, tail;
        quint64 size(const Sheet &sheet) const
        {
            return quint64(head.size()) + sheet.bodySize + quint64(pending.size()) + quint64(tail.size());
        }
    };

    bool fail(const QString &message);
    quint32 internString(QStringView text);
    // A text cell of the row being appended, before anything is kept: its
    // string if the text is known, else the text to add.
    struct TextCell {
        qint64 string = -1;
        QStringView text;
        quint32 utf8Hash = 0;
        bool remember = false; // well-formed UTF-8, to be found again by its bytes
        quint32 added = 0;     // the string a remembered text was given
    };
    TextCell resolve(const CellView &cell, size_t column);
    quint32 internUtf8(const CellView *cells, size_t column);
    static void flushBlock(Sheet &sheet);
    static void appendBlock(const Sheet &sheet, QByteArray &out);
    // The substream of a worksheet.
    static SheetStream sheetStream(const Sheet &sheet, bool selected);

    QString m_error;
    std::vector<Sheet> m_sheets;

    // Shared string table: the distinct texts in UTF-16, in the order they
    // were first met.
    TextIndex<char16_t> m_strings;
    // Texts met in UTF-8, each with its string in the table.
    TextIndex<char> m_utf8;
    std::vector<quint32> m_utf8String;
    // True while every string in the table came from well-formed UTF-8;
    // meanwhile the table is found by its UTF-8 bytes alone (internUtf8()).
    bool m_stringsFromUtf8Only = true;
    quint32 m_sstReferences = 0; // LABELSST records written, all worksheets
    // For the row being appended: its text cells, and texts decoded from UTF-8.
    std::vector<TextCell> m_textCells;
    std::vector<std::vector<char16_t>> m_decoded;
    std::vector<QString> m_decodedLeniently;
    std::vector<CellView> m_views; // appendRow(vector) hands its cells on as views
};

} // namespace exporting
