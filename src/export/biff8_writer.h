#pragma once

// Writer of Excel 97-2003 workbooks (BIFF8 records inside a compound file)
// with a single worksheet of plain cells: texts and numbers, no formatting.
//
// Rows are appended one at a time and encoded at once into compact byte
// buffers: the worksheet's cell records, and the shared string table in
// which every distinct text is kept once. write() then streams the whole
// workbook to a device without building the file in memory.
//
// Usage:
//   xls::Biff8Writer w;
//   for (each row) if (!w.appendRow(cells)) { report w.error(); stop; }
//   QSaveFile f(path); f.open(QIODevice::WriteOnly);
//   if (!w.write(f)) { report w.error(); } else f.commit();

#include <QString>
#include <QByteArray>
#include <QtGlobal>

#include <vector>

class QIODevice;

namespace xls {

// One worksheet cell as handed to appendRow().
struct Cell {
    enum class Kind { Empty, Text, Number };
    Kind kind = Kind::Empty;
    QString text;
    double number = 0;

    static Cell empty() { return {}; }
    static Cell fromText(const QString& t) { Cell c; c.kind = Kind::Text; c.text = t; return c; }
    static Cell fromNumber(double n) { Cell c; c.kind = Kind::Number; c.number = n; return c; }
};

// One workbook with one worksheet named "Sheet1".
class Biff8Writer {
public:
    static constexpr int MaxRows = 65536, MaxColumns = 256, MaxTextLength = 32767;

    Biff8Writer();
    ~Biff8Writer();
    Biff8Writer(const Biff8Writer&) = delete;
    Biff8Writer& operator=(const Biff8Writer&) = delete;

    // Appends the next worksheet row (row 0 first). Returns false (and sets
    // error()) when the row would not fit the format: more than MaxRows rows,
    // more than MaxColumns cells, a text longer than MaxTextLength UTF-16
    // units, a number that is not finite (Excel has no NaN or infinity), or
    // texts that would take the workbook past the 2 GiB the file can hold.
    // The error names the row and column, 0-based. A refused row leaves the
    // workbook unchanged, so the caller may correct it and append it again.
    //
    // Empty cells and empty texts write nothing: an empty cell. Lone UTF-16
    // surrogates (not valid text) are stored as U+FFFD.
    bool appendRow(const std::vector<Cell>& cells);

    // Writes the whole compound file to `out`, which must be open for
    // writing. Returns false with error() on I/O failure or when the
    // workbook exceeds the 2 GiB the format can address. May be called
    // again, also after more rows were appended.
    bool write(QIODevice& out);

    QString error() const { return m_error; }
    int rowCount() const { return m_rowCount; }

private:
    struct RowInfo {           // a row of the block being collected
        quint16 row, firstCol, lastColPlus1;
        quint32 cellsOffset;   // start of its cells in m_blockCells
    };

    bool fail(const QString& message);
    quint32 internString(QStringView text);
    void growStringTable();
    void flushBlock();
    QByteArray blockBytes() const;

    QString m_error;
    int m_rowCount = 0;

    // Shared string table: the distinct texts one after another (UTF-16),
    // where each begins, their hashes, and an open-addressing hash table of
    // string index + 1 (0 = free slot).
    std::vector<char16_t> m_pool;
    std::vector<quint32> m_stringStart;   // size = strings + 1
    std::vector<quint32> m_stringHash;
    std::vector<quint32> m_slots;
    quint32 m_sstReferences = 0;          // LABELSST records written

    // Worksheet cells. Rows are grouped in blocks of 32 (rows 0-31, 32-63,
    // ...); each finished block is, in order: its ROW records, its cell
    // records, a DBCELL record. m_dbcellOffsets are the DBCELL positions
    // within m_sheetBody, for the INDEX record.
    QByteArray m_sheetBody;
    std::vector<quint32> m_dbcellOffsets;
    std::vector<RowInfo> m_blockRows;     // the block being collected
    QByteArray m_blockCells;

    // Used range: rows and columns that hold at least one cell.
    int m_firstRow = -1, m_lastRow = -1, m_firstCol = -1, m_lastCol = -1;
};

} // namespace xls
