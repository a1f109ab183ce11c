#pragma once

// Writer of Excel 97-2003 workbooks (BIFF8 records inside a compound file)
// with worksheets of plain cells: texts and numbers, no formatting.
//
// Rows are appended one at a time to the last worksheet (or set in any
// order, setRow()) and kept compactly: each text once in the shared string
// table of the workbook, each cell as the record it takes. write() then
// encodes the records and streams the whole workbook to a device without
// building the file in memory.
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

#include <array>
#include <functional>
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

    // Rows in any order: makes the workbook `rows` rows long, 65,536 rows a
    // worksheet (at least one worksheet), all empty; then setRow() fills
    // row `position` of that whole, counted from row 0 of "Sheet1", as
    // appendRow() would, with the same checks. Each row is set at most
    // once. For a fresh workbook only. The texts are numbered in the
    // string table in the order they are first set, not by their rows:
    // the same worksheets, not always the same bytes.
    void setRowCount(qint64 rows);
    bool setRow(qint64 position, const CellView *cells, size_t count);

    // Writes the whole compound file to `out`, which must be open for
    // writing. Returns false with error() on I/O failure or when the
    // workbook exceeds the 2 GiB the format can address. May be called
    // again, also after more rows were appended.
    bool write(QIODevice &out);

    QString error() const { return m_error; }
    // Rows appended to the last worksheet.
    int rowCount() const { return int(m_sheets.back().rows.size()); }

private:
    // A cell as kept until write() encodes it: the record it takes and its
    // value (a string of the table, an RK value, or where its double is in
    // m_numbers). Rows are kept as cells, 8 bytes each, and encoded only
    // while the file is written: neither the order rows come in nor the
    // records' row numbers are fixed before then.
    struct KeptCell {
        enum Kind : quint8 { Empty, String, Rk, Number };
        Kind kind = Empty;
        quint32 value = 0;
    };
    // A row's cells in its worksheet's `cells`; none for a row without any.
    struct KeptRow {
        quint32 first = 0;
        quint16 count = 0;
        bool set = false; // given, with or without cells
    };
    struct Sheet {
        QString name;
        std::vector<KeptRow> rows;
        std::vector<KeptCell> cells;
        quint64 bodySize = 0; // the rows' records, ROW records included
        // Used range: rows and columns that hold at least one cell.
        int firstRow = -1, lastRow = -1, firstCol = -1, lastCol = -1;
    };

    // Checks a row and keeps its cells as row `row` of `sheet`.
    bool keepRow(Sheet &sheet, int row, const CellView *cells, size_t count);
    // Bytes of the records of a row's cells, and the records themselves.
    static quint64 recordsSize(const KeptCell *cells, size_t count);
    char *encodeRow(char *out, int row, const KeptCell *cells, size_t count) const;
    // A worksheet's records before its rows, and after them.
    static QByteArray sheetHead(const Sheet &sheet);
    static QByteArray sheetTail(bool selected);
    // Streams a worksheet's rows, 32 at a time (their ROW records, then
    // their cells).
    bool writeRows(const Sheet &sheet, const std::function<bool(const QByteArray &)> &put) const;

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
    QString m_error;
    std::vector<Sheet> m_sheets;
    std::vector<double> m_numbers; // numbers without an RK form

    // Shared string table: the distinct texts in UTF-16, in the order they
    // were first met.
    TextIndex<char16_t> m_strings;
    // Texts met in UTF-8, each with its string in the table.
    TextIndex<char> m_utf8;
    std::vector<quint32> m_utf8String;
    // For each column, texts it had lately, by their hash: most columns
    // repeat a few texts (publishers, classes, places), which are then
    // found without a search of the whole table.
    static constexpr quint32 RecentTexts = 61;
    struct Recent {
        quint32 hash = 0;
        quint32 entry = 0; // the text in m_utf8 + 1; 0: none
    };
    std::vector<std::array<Recent, RecentTexts>> m_recent;
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
