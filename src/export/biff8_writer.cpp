#include "export/biff8_writer.h"

#include "export/cfb_writer.h"
#include "export/utf8.h"

#include <QFileDevice>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>

// Record layouts follow Microsoft's published description of the Excel
// 97-2003 binary format ([MS-XLS]). Every record is a 4-byte header (record
// type, data length, both 16-bit little endian) followed by at most 8224
// bytes of data; longer data goes on in CONTINUE records.

namespace exporting {

namespace {

// Record types used here.
enum RecordType : quint16 {
    RecEof = 0x000A,
    RecContinue = 0x003C,
    RecWindow1 = 0x003D,
    RecCodePage = 0x0042,
    RecDefColWidth = 0x0055,
    RecFont = 0x0031,
    RecBoundSheet = 0x0085,
    RecXf = 0x00E0,
    RecSst = 0x00FC,
    RecMulRk = 0x00BD,
    RecLabelSst = 0x00FD,
    RecExtSst = 0x00FF,
    RecDimensions = 0x0200,
    RecNumber = 0x0203,
    RecRk = 0x027E,
    RecRow = 0x0208,
    RecWindow2 = 0x023E,
    RecStyle = 0x0293,
    RecBof = 0x0809,
};

constexpr int MaxRecordData = 8224;
constexpr int RowsPerBlock = 32;
constexpr quint16 CellXf = 15; // the default cell format: General, font 0
constexpr int RowRecordSize = 4 + 16;
constexpr int LabelSstSize = 4 + 10;
constexpr int NumberSize = 4 + 14;
constexpr int RkSize = 4 + 10;
// Row height in twips that goes with the 11-point default font.
constexpr quint16 RowHeight = 270;

// "MS PGothic", the usual Japanese default font of Excel 97-2003.
const QString FontName = QStringLiteral(u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");

void put16(char *p, quint16 v) { qToLittleEndian(v, p); }
void put32(char *p, quint32 v) { qToLittleEndian(v, p); }

// Appends one record to a buffer; the length field is filled in when the
// builder goes out of scope. For records that certainly stay within 8224 bytes.
class Record {
public:
    Record(QByteArray &out, quint16 type) : m_out(out), m_start(out.size())
    {
        u16(type);
        u16(0);
    }
    ~Record()
    {
        Q_ASSERT(m_out.size() - m_start - 4 <= MaxRecordData);
        put16(m_out.data() + m_start + 2, quint16(m_out.size() - m_start - 4));
    }
    Record &u8(quint8 v)
    {
        m_out.append(char(v));
        return *this;
    }
    Record &u16(quint16 v)
    {
        char b[2];
        put16(b, v);
        m_out.append(b, 2);
        return *this;
    }
    Record &u32(quint32 v)
    {
        char b[4];
        put32(b, v);
        m_out.append(b, 4);
        return *this;
    }
    // A short string (at most 255 units) with 8-bit length, stored as UTF-16.
    Record &shortString(const QString &s)
    {
        u8(quint8(s.size()));
        u8(0x01); // option flags: uncompressed UTF-16
        for (QChar c : s)
            u16(c.unicode());
        return *this;
    }

private:
    QByteArray &m_out;
    qsizetype m_start;
};

void appendEof(QByteArray &out) { Record r(out, RecEof); }

// BOF: starts a substream. BIFF8 (0x0600); type 0x0005 workbook globals,
// 0x0010 worksheet; build and year of the writing application as Excel 97
// would put them; no history flags; lowest BIFF version that may read: 8.
void appendBof(QByteArray &out, quint16 substreamType)
{
    Record(out, RecBof).u16(0x0600).u16(substreamType).u16(0x0DBB).u16(0x07CC).u32(0).u32(6);
}

// XF: a cell or style format. Everything refers to number format 0
// (General), the given font, bottom aligned, no borders, no fill (pattern
// colours 64/65: the system's window colours).
void appendXf(QByteArray &out, quint16 font, bool style, quint8 usedAttributes)
{
    Record(out, RecXf)
        .u16(font)
        .u16(0)                       // number format: General
        .u16(style ? 0xFFF5 : 0x0001) // locked; style XF with no parent, or cell XF of style 0
        .u8(0x20)                     // horizontal general, vertical bottom
        .u8(0)                        // no rotation
        .u8(0)                        // no indent, no shrink
        .u8(usedAttributes)
        .u32(0) // no borders
        .u32(0)
        .u16(0x20C0); // fill colours 0x40 and 0x41
}

// Walks the shared string table as it is written: an SST record followed by
// CONTINUE records, each with at most 8224 bytes of data. The rules Excel
// expects when splitting:
// - a string's header (16-bit character count and the option flags byte)
//   and its first character are never split from each other: if they do not
//   fit, the string starts in the next record;
// - a string's characters may continue in the next record, which then
//   starts with a fresh option flags byte (0x01: UTF-16 characters follow);
// - a character, including a UTF-16 surrogate pair, is never split.
// Run without an output, it only measures: total size and the EXTSST
// bucket positions.
class SstWriter {
public:
    SstWriter(const std::vector<char16_t> &pool, const std::vector<quint32> &starts, quint32 references,
              quint32 bucketSize)
        : m_pool(pool), m_starts(starts), m_references(references), m_bucketSize(bucketSize)
    {}

    // Writes (or, with out == nullptr, measures) the whole table. Bucket
    // positions are relative to the table's start; the in-record offsets
    // count the record header. Returns false on write failure.
    bool run(CompoundFileWriter *out)
    {
        m_out = out;
        m_size = 0;
        m_buckets.clear();
        m_type = RecSst;
        m_len = 0;
        const quint32 count = quint32(m_starts.size() - 1);
        put32(m_rec + 4, m_references); // total LABELSST records in the workbook
        put32(m_rec + 8, count);        // distinct strings
        m_len = 8;
        for (quint32 i = 0; i < count; ++i) {
            const char16_t *s = m_pool.data() + m_starts[i];
            const quint32 n = m_starts[i + 1] - m_starts[i];
            const int firstChar = n == 0 ? 0 : (n > 1 && QChar::isHighSurrogate(s[0]) ? 4 : 2);
            if (m_len + 3 + firstChar > MaxRecordData && !nextRecord())
                return false;
            if (i % m_bucketSize == 0)
                m_buckets.push_back({m_size + 4 + quint32(m_len), quint16(4 + m_len)});
            put16(m_rec + 4 + m_len, quint16(n));
            m_rec[4 + m_len + 2] = 0x01; // option flags: uncompressed UTF-16, no rich text
            m_len += 3;
            for (quint32 pos = 0; pos < n;) {
                quint32 take = std::min<quint32>(n - pos, quint32(MaxRecordData - m_len) / 2);
                if (take < n - pos && take > 0 && QChar::isHighSurrogate(s[pos + take - 1]))
                    --take; // keep the surrogate pair together
                if (take == 0) {
                    if (!nextRecord())
                        return false;
                    m_rec[4] = 0x01; // flags again: the characters go on as UTF-16
                    m_len = 1;
                    continue;
                }
                qToLittleEndian<quint16>(s + pos, take, m_rec + 4 + m_len);
                m_len += int(take) * 2;
                pos += take;
            }
        }
        return closeRecord();
    }

    quint32 size() const { return m_size; }
    struct Bucket {
        quint32 streamOffset;
        quint16 recordOffset;
    };
    const std::vector<Bucket> &buckets() const { return m_buckets; }

private:
    bool closeRecord()
    {
        put16(m_rec, m_type);
        put16(m_rec + 2, quint16(m_len));
        if (m_out && !m_out->writeStream(m_rec, 4 + m_len))
            return false;
        m_size += 4 + quint32(m_len);
        return true;
    }
    bool nextRecord()
    {
        if (!closeRecord())
            return false;
        m_type = RecContinue;
        m_len = 0;
        return true;
    }

    const std::vector<char16_t> &m_pool;
    const std::vector<quint32> &m_starts;
    quint32 m_references, m_bucketSize;
    CompoundFileWriter *m_out = nullptr;
    char m_rec[4 + MaxRecordData];
    quint16 m_type = RecSst;
    int m_len = 0;
    quint32 m_size = 0;
    std::vector<Bucket> m_buckets;
};

QString withoutLoneSurrogates(QStringView text)
{
    QString fixed = text.toString();
    for (qsizetype i = 0; i < fixed.size(); ++i) {
        const QChar c = fixed.at(i);
        if (c.isHighSurrogate() && i + 1 < fixed.size() && fixed.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            fixed[i] = QChar::ReplacementCharacter;
    }
    return fixed;
}

bool sameBits(double a, double b) { return std::bit_cast<quint64>(a) == std::bit_cast<quint64>(b); }

} // namespace

// RK: bit 0 set means the value is a hundredth of what the rest gives; bit
// 1 set means the upper 30 bits are a signed integer, clear that they are
// the upper 30 bits of a double whose lower 34 bits are zero. Readers
// decode by exactly these steps, so each form is taken only when it
// gives back the same bits.
std::optional<quint32> rkValue(double number)
{
    if (!std::isfinite(number))
        return std::nullopt;
    constexpr double Limit = 1 << 29; // the 30-bit signed range is [-2^29, 2^29)
    constexpr quint64 Low34 = (quint64(1) << 34) - 1;
    if (number >= -Limit && number < Limit) {
        const qint32 n = qint32(number);
        if (sameBits(double(n), number))
            return (quint32(n) << 2) | 2;
    }
    const quint64 bits = std::bit_cast<quint64>(number);
    if ((bits & Low34) == 0)
        return quint32(bits >> 32);
    const double hundredfold = number * 100;
    if (hundredfold >= -Limit && hundredfold < Limit) {
        const qint32 n = qint32(std::nearbyint(hundredfold));
        if (n >= -(1 << 29) && n < (1 << 29) && sameBits(double(n) / 100, number))
            return (quint32(n) << 2) | 3;
    }
    const quint64 hundredBits = std::bit_cast<quint64>(hundredfold);
    if (std::isfinite(hundredfold) && (hundredBits & Low34) == 0 && sameBits(hundredfold / 100, number))
        return quint32(hundredBits >> 32) | 1;
    return std::nullopt;
}

Biff8Writer::Biff8Writer() { addSheet(); }

void Biff8Writer::addSheet()
{
    m_sheets.emplace_back();
    m_sheets.back().name = QStringLiteral("Sheet%1").arg(m_sheets.size());
}

Biff8Writer::~Biff8Writer() = default;

bool Biff8Writer::fail(const QString &message)
{
    m_error = message;
    return false;
}

// Returns the shared string table index of `text`, adding it if new.
quint32 Biff8Writer::internString(QStringView text)
{
    const char16_t *units = text.utf16();
    const size_t n = size_t(text.size());
    const quint32 hash = TextIndex<char16_t>::hash(units, n);
    const qint64 found = m_strings.find(units, n, hash);
    return found >= 0 ? quint32(found) : m_strings.add(units, n, hash);
}

Biff8Writer::TextCell Biff8Writer::resolve(const CellView &cell, size_t column)
{
    TextCell t;
    if (cell.kind != Cell::Kind::Text)
        return t;
    if (cell.utf8.isEmpty()) {
        t.text = cell.text;
        return t;
    }
    const size_t bytes = size_t(cell.utf8.size());
    t.utf8Hash = TextIndex<char>::hash(cell.utf8.data(), bytes);
    // A text this column had lately, else one of all the texts met.
    Recent &recent = m_recent[column][t.utf8Hash % RecentTexts];
    qint64 known = -1;
    if (recent.entry != 0 && recent.hash == t.utf8Hash && m_utf8.holds(recent.entry - 1, cell.utf8.data(), bytes))
        known = recent.entry - 1;
    else if ((known = m_utf8.find(cell.utf8.data(), bytes, t.utf8Hash)) >= 0)
        recent = {t.utf8Hash, quint32(known) + 1};
    if (known >= 0) {
        t.string = m_utf8String[size_t(known)];
        return t;
    }
    std::vector<char16_t> &buffer = m_decoded[column];
    if (buffer.size() < bytes)
        buffer.resize(bytes);
    const qsizetype units = decodeUtf8(cell.utf8, buffer.data());
    t.remember = units >= 0;
    if (t.remember) {
        t.text = QStringView(buffer.data(), units);
    } else {
        m_decodedLeniently[column] = decodeUtf8Lenient(cell.utf8);
        t.text = m_decodedLeniently[column];
    }
    return t;
}

// The string of a text of well-formed UTF-8 whose bytes resolve() did not
// find: the same bytes earlier in this row, or a new string.
quint32 Biff8Writer::internUtf8(const CellView *cells, size_t column)
{
    TextCell &t = m_textCells[column];
    const QByteArrayView bytes = cells[column].utf8;
    for (size_t c = 0; c < column; ++c) {
        const TextCell &earlier = m_textCells[c];
        if (earlier.remember && earlier.string < 0 && earlier.utf8Hash == t.utf8Hash && cells[c].utf8 == bytes)
            return t.added = earlier.added;
    }
    // Well-formed UTF-8 and its UTF-16 text determine each other: while
    // every string in the table came from such bytes, a text whose bytes
    // are not known is not in the table either. It is added unsearched,
    // and the table is not searched by its UTF-16 texts until a text comes
    // otherwise.
    if (m_stringsFromUtf8Only) {
        t.added = m_strings.append(t.text.utf16(), size_t(t.text.size()));
    } else {
        t.added = internString(t.text);
    }
    m_recent[column][t.utf8Hash % RecentTexts] = {t.utf8Hash,
                                                  m_utf8.add(bytes.data(), size_t(bytes.size()), t.utf8Hash) + 1};
    m_utf8String.push_back(t.added);
    return t.added;
}

bool Biff8Writer::appendRow(const std::vector<Cell> &cells)
{
    m_views.resize(cells.size());
    for (size_t col = 0; col < cells.size(); ++col)
        m_views[col] = {cells[col].kind, cells[col].text, cells[col].number, {}};
    return appendRow(m_views.data(), m_views.size());
}

bool Biff8Writer::appendRow(const CellView *cells, size_t count)
{
    Sheet &sheet = m_sheets.back();
    const int row = int(sheet.rows.size());
    if (row >= MaxRows)
        return fail(QStringLiteral("Row %1: a worksheet holds at most %2 rows").arg(row).arg(MaxRows));
    sheet.rows.emplace_back();
    if (!keepRow(sheet, row, cells, count)) {
        sheet.rows.pop_back();
        return false;
    }
    return true;
}

void Biff8Writer::setRowCount(qint64 rows)
{
    Q_ASSERT(m_sheets.size() == 1 && m_sheets.back().rows.empty());
    for (qint64 left = rows; left > 0; left -= MaxRows) {
        if (!m_sheets.back().rows.empty())
            addSheet();
        m_sheets.back().rows.resize(size_t(std::min<qint64>(left, MaxRows)));
    }
}

bool Biff8Writer::setRow(qint64 position, const CellView *cells, size_t count)
{
    const qint64 sheet = position / MaxRows;
    const int row = int(position % MaxRows);
    if (position < 0 || sheet >= qint64(m_sheets.size()) || size_t(row) >= m_sheets[size_t(sheet)].rows.size())
        return fail(QStringLiteral("Row %1: the workbook has no such row").arg(position));
    if (m_sheets[size_t(sheet)].rows[size_t(row)].set)
        return fail(QStringLiteral("Row %1: the row was given before").arg(position));
    return keepRow(m_sheets[size_t(sheet)], row, cells, count);
}

bool Biff8Writer::keepRow(Sheet &sheet, int row, const CellView *cells, size_t count)
{
    if (count > size_t(MaxColumns))
        return fail(QStringLiteral("Row %1: %2 cells, but a worksheet holds at most %3 columns")
                        .arg(row)
                        .arg(count)
                        .arg(MaxColumns));
    bool hasCells = false;
    quint64 textUnits = 0;
    m_textCells.resize(count);
    m_decoded.resize(std::max(m_decoded.size(), count));
    m_decodedLeniently.resize(std::max(m_decodedLeniently.size(), count));
    m_recent.resize(std::max(m_recent.size(), count));
    for (size_t col = 0; col < count; ++col) {
        const CellView &c = cells[col];
        const TextCell &t = m_textCells[col] = resolve(c, col);
        // A text found in the table was checked when it was added, and
        // takes no more room; it is never empty.
        const bool known = t.string >= 0;
        const qsizetype units = known ? 0 : t.text.size();
        textUnits += quint64(units);
        if (c.kind == Cell::Kind::Text && units > MaxTextLength)
            return fail(QStringLiteral("Row %1, column %2: the text has %3 characters, a cell holds at most %4")
                            .arg(row)
                            .arg(col)
                            .arg(units)
                            .arg(MaxTextLength));
        if (c.kind == Cell::Kind::Number && !std::isfinite(c.number))
            return fail(QStringLiteral("Row %1, column %2: the number %3 cannot be stored in a workbook")
                            .arg(row)
                            .arg(col)
                            .arg(c.number));
        hasCells |= (c.kind == Cell::Kind::Text && (known || units > 0)) || c.kind == Cell::Kind::Number;
    }
    // The texts alone (two bytes a character) would exceed what the file can
    // address; refusing here also keeps the string table's 32-bit offsets safe.
    if (m_strings.pool().size() + textUnits > CompoundFileWriter::MaxStreamSize / 2)
        return fail(QStringLiteral("Row %1: the workbook would exceed the 2 GiB the file format can hold").arg(row));
    KeptRow &kept = sheet.rows[size_t(row)];
    kept.set = true;
    if (!hasCells)
        return true;

    // Empty cells are kept too, so that every cell keeps its column. Room
    // is made at once for the worksheet's rows as wide as its first: a
    // vector grown step by step would copy its cells and touch fresh memory
    // at every step.
    if (sheet.cells.capacity() == 0)
        sheet.cells.reserve(sheet.rows.capacity() * count);
    kept.first = quint32(sheet.cells.size());
    kept.count = quint16(count);
    int first = -1, last = -1;
    for (size_t col = 0; col < count; ++col) {
        const CellView &c = cells[col];
        const TextCell &t = m_textCells[col];
        KeptCell cell;
        if (c.kind == Cell::Kind::Text && (t.string >= 0 || !t.text.isEmpty())) {
            quint32 sst;
            if (t.string >= 0) {
                sst = quint32(t.string);
            } else if (t.remember) {
                sst = internUtf8(cells, col);
            } else {
                if (m_stringsFromUtf8Only) {
                    m_strings.indexAll();
                    m_stringsFromUtf8Only = false;
                }
                sst = t.text.isValidUtf16() ? internString(t.text) : internString(withoutLoneSurrogates(t.text));
            }
            ++m_sstReferences;
            cell = {KeptCell::String, sst};
        } else if (c.kind == Cell::Kind::Number) {
            if (const std::optional<quint32> rk = rkValue(c.number)) {
                cell = {KeptCell::Rk, *rk};
            } else {
                cell = {KeptCell::Number, quint32(m_numbers.size())};
                m_numbers.push_back(c.number);
            }
        }
        sheet.cells.push_back(cell);
        if (cell.kind != KeptCell::Empty) {
            if (first < 0)
                first = int(col);
            last = int(col);
        }
    }
    sheet.bodySize += RowRecordSize + recordsSize(sheet.cells.data() + kept.first, count);
    sheet.firstRow = sheet.firstRow < 0 ? row : std::min(sheet.firstRow, row);
    sheet.lastRow = std::max(sheet.lastRow, row);
    sheet.firstCol = sheet.firstCol < 0 ? first : std::min(sheet.firstCol, first);
    sheet.lastCol = std::max(sheet.lastCol, last);
    return true;
}

// A number and the columns after it that are RK numbers too: one RK record
// (row, column, XF, value), or a MULRK record for two or more (row, first
// column, XF and value of each, last column). Either takes less room than
// NUMBER records.
quint64 Biff8Writer::recordsSize(const KeptCell *cells, size_t count)
{
    quint64 size = 0;
    for (size_t col = 0; col < count; ++col) {
        switch (cells[col].kind) {
        case KeptCell::Empty: break;
        case KeptCell::String: size += LabelSstSize; break;
        case KeptCell::Number: size += NumberSize; break;
        case KeptCell::Rk: {
            size_t run = 1;
            while (col + 1 < count && cells[col + 1].kind == KeptCell::Rk) {
                ++col;
                ++run;
            }
            size += run == 1 ? RkSize : 4 + 6 + 6 * run;
            break;
        }
        }
    }
    return size;
}

char *Biff8Writer::encodeRow(char *out, int row, const KeptCell *cells, size_t count) const
{
    auto cellHeader = [&](quint16 type, int length, size_t col) {
        put16(out, type);
        put16(out + 2, quint16(length - 4));
        put16(out + 4, quint16(row));
        put16(out + 6, quint16(col));
        put16(out + 8, CellXf);
    };
    for (size_t col = 0; col < count; ++col) {
        const KeptCell &c = cells[col];
        switch (c.kind) {
        case KeptCell::Empty: break;
        case KeptCell::String:
            // LABELSST: row, column, XF, index into the shared string table.
            cellHeader(RecLabelSst, LabelSstSize, col);
            put32(out + 10, c.value);
            out += LabelSstSize;
            break;
        case KeptCell::Number:
            // NUMBER: row, column, XF, IEEE 754 double.
            cellHeader(RecNumber, NumberSize, col);
            qToLittleEndian(m_numbers[c.value], out + 10);
            out += NumberSize;
            break;
        case KeptCell::Rk:
            if (col + 1 < count && cells[col + 1].kind == KeptCell::Rk) {
                char *const record = out;
                cellHeader(RecMulRk, 0, col);
                put32(out + 10, c.value);
                out += 14;
                do {
                    ++col;
                    put16(out, CellXf);
                    put32(out + 2, cells[col].value);
                    out += 6;
                } while (col + 1 < count && cells[col + 1].kind == KeptCell::Rk);
                put16(out, quint16(col));
                out += 2;
                put16(record + 2, quint16(out - record - 4));
            } else {
                cellHeader(RecRk, RkSize, col);
                put32(out + 10, c.value);
                out += RkSize;
            }
            break;
        }
    }
    return out;
}

bool Biff8Writer::writeRows(const Sheet &sheet, const std::function<bool(const QByteArray &)> &put) const
{
    // Blocks are gathered into about a mebibyte before they are handed on:
    // each hand-over is a write to the file.
    constexpr qsizetype Gather = 1 << 20;
    constexpr qsizetype LargestBlock = RowsPerBlock * (RowRecordSize + qsizetype(MaxColumns) * NumberSize);
    QByteArray out(Gather + LargestBlock, Qt::Uninitialized);
    char *p = out.data();
    for (size_t start = 0; start < sheet.rows.size(); start += RowsPerBlock) {
        const size_t end = std::min(sheet.rows.size(), start + RowsPerBlock);
        for (size_t r = start; r < end; ++r) {
            const KeptRow &kept = sheet.rows[r];
            if (kept.count == 0)
                continue;
            const KeptCell *cells = sheet.cells.data() + kept.first;
            size_t first = 0, last = kept.count - 1;
            while (cells[first].kind == KeptCell::Empty)
                ++first;
            while (cells[last].kind == KeptCell::Empty)
                --last;
            // ROW: row, first column, last column + 1, height, two reserved
            // words, flags (0x100 is always set; 0x0F0000 is XF 15, ignored
            // because the row has no format of its own).
            put16(p, RecRow);
            put16(p + 2, RowRecordSize - 4);
            put16(p + 4, quint16(r));
            put16(p + 6, quint16(first));
            put16(p + 8, quint16(last + 1));
            put16(p + 10, RowHeight);
            put32(p + 12, 0);
            put32(p + 16, 0x000F0100);
            p += RowRecordSize;
        }
        for (size_t r = start; r < end; ++r) {
            const KeptRow &kept = sheet.rows[r];
            p = encodeRow(p, int(r), sheet.cells.data() + kept.first, kept.count);
        }
        if (p - out.constData() >= Gather || end == sheet.rows.size()) {
            if (!put(QByteArray::fromRawData(out.constData(), p - out.constData())))
                return false;
            p = out.data();
        }
    }
    return true;
}

// BOF, DEFCOLWIDTH, DIMENSIONS, then the cell blocks, WINDOW2, EOF. No INDEX
// and DBCELL records: they only speed up finding a row, readers do without
// them, and they would make the file larger by 2 bytes a row.
QByteArray Biff8Writer::sheetHead(const Sheet &sheet)
{
    QByteArray head;
    const bool empty = sheet.firstRow < 0;
    appendBof(head, 0x0010);
    Record(head, RecDefColWidth).u16(8); // 8 characters, Excel's default
    // DIMENSIONS: used range, first row / last row + 1 (32 bit), first
    // column / last column + 1; all zero for an empty sheet.
    Record(head, RecDimensions)
        .u32(empty ? 0 : sheet.firstRow)
        .u32(empty ? 0 : sheet.lastRow + 1)
        .u16(empty ? 0 : sheet.firstCol)
        .u16(empty ? 0 : sheet.lastCol + 1)
        .u16(0);
    return head;
}

QByteArray Biff8Writer::sheetTail(bool selected)
{
    QByteArray tail;
    // WINDOW2: show grid lines, row and column headings and zeros, default
    // grid colour, outline symbols; top-left A1. The selected sheet (0x0200)
    // is the one shown (0x0400) when the workbook opens.
    Record(tail, RecWindow2).u16(selected ? 0x06B6 : 0x00B6).u16(0).u16(0).u16(0x40).u16(0).u16(0).u16(0).u16(0).u16(0);
    appendEof(tail);
    return tail;
}

bool Biff8Writer::write(QIODevice &out)
{
    m_error.clear();

    // --- Workbook globals, up to the shared string table.
    QByteArray globals;
    appendBof(globals, 0x0005);
    Record(globals, RecCodePage).u16(1200); // texts are UTF-16
    // WINDOW1: position and size of the workbook window (twips), flags
    // 0x38 (horizontal and vertical scroll bars, sheet tabs shown), first
    // sheet active and selected, tab bar width ratio 600/1000.
    Record(globals, RecWindow1)
        .u16(0x01E0)
        .u16(0x005A)
        .u16(0x3FCF)
        .u16(0x2A4E)
        .u16(0x0038)
        .u16(0)
        .u16(0)
        .u16(1)
        .u16(0x0258);
    // FONT: five records, because readers skip index 4 (fonts are numbered
    // 0, 1, 2, 3, 5, ...). Height 220 twips (11 points), no attributes,
    // automatic colour, normal weight, family "modern", Shift-JIS charset.
    for (int i = 0; i < 5; ++i) {
        Record(globals, RecFont)
            .u16(220)
            .u16(0)
            .u16(0x7FFF)
            .u16(400)
            .u16(0)
            .u8(0)
            .u8(3)
            .u8(128)
            .u8(0)
            .shortString(FontName);
    }
    // XF: the 16 formats every Excel 97 workbook begins with: 0 is the
    // style "Normal", 1-14 are the outline styles (only their font counts),
    // 15 is the default cell format, used by every cell written here.
    for (int i = 0; i < 15; ++i) {
        const quint16 font = (i == 1 || i == 2) ? 1 : (i == 3 || i == 4) ? 2 : 0;
        appendXf(globals, font, true, i == 0 ? 0x00 : 0xF4);
    }
    appendXf(globals, 0, false, 0x00);
    // STYLE: built-in style "Normal" (id 0) is XF 0.
    Record(globals, RecStyle).u16(0x8000).u8(0).u8(0xFF);
    // BOUNDSHEET, one per worksheet in their order: stream offset of the
    // sheet's BOF (filled in below), visible, worksheet, name.
    std::vector<qsizetype> boundSheetOffsets;
    for (const Sheet &sheet : m_sheets) {
        Record rec(globals, RecBoundSheet);
        boundSheetOffsets.push_back(globals.size());
        rec.u32(0).u8(0).u8(0).shortString(sheet.name);
    }

    // --- Shared string table and its index (EXTSST). Excel groups the
    // strings in buckets of at least 8, at most 128 buckets.
    const quint32 stringCount = m_strings.count();
    const quint32 bucketSize = std::clamp<quint32>((stringCount + 127) / 128, 8, 0xFFFF);
    SstWriter sst(m_strings.pool(), m_strings.starts(), m_sstReferences, bucketSize);
    sst.run(nullptr);
    const quint32 sstStart = quint32(globals.size());
    QByteArray extSst;
    {
        Record rec(extSst, RecExtSst);
        rec.u16(quint16(bucketSize));
        for (const SstWriter::Bucket &b : sst.buckets())
            rec.u32(sstStart + b.streamOffset).u16(b.recordOffset).u16(0);
    }
    appendEof(extSst);
    const quint64 globalsSize = quint64(globals.size()) + sst.size() + extSst.size();

    // --- The worksheets' substreams, one after another.
    std::vector<QByteArray> heads, tails;
    quint64 total = globalsSize;
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        heads.push_back(sheetHead(m_sheets[i]));
        tails.push_back(sheetTail(i == 0));
        if (total <= CompoundFileWriter::MaxStreamSize)
            put32(globals.data() + boundSheetOffsets[i], quint32(total));
        total += quint64(heads.back().size()) + m_sheets[i].bodySize + quint64(tails.back().size());
    }
    if (total > CompoundFileWriter::MaxStreamSize)
        return fail(QStringLiteral("The workbook is too large for the file format (%1 bytes, at most %2)")
                        .arg(total)
                        .arg(CompoundFileWriter::MaxStreamSize));

    CompoundFileWriter cfb(out);
    auto put = [&](const QByteArray &bytes) {
        for (qsizetype pos = 0; pos < bytes.size(); pos += 1 << 20) {
            if (!cfb.writeStream(bytes.constData() + pos, std::min<qsizetype>(1 << 20, bytes.size() - pos)))
                return false;
        }
        return true;
    };
    bool written = cfb.begin(QStringLiteral("Workbook"), total) && put(globals) && sst.run(&cfb) && put(extSst);
    for (size_t i = 0; written && i < m_sheets.size(); ++i)
        written = put(heads[i]) && writeRows(m_sheets[i], put) && put(tails[i]);
    if (!written || !cfb.finish())
        return fail(cfb.error());
    // Files buffer writes; a full disk may only show when the buffer is flushed.
    if (auto *file = qobject_cast<QFileDevice *>(&out); file && !file->flush())
        return fail(QStringLiteral("Cannot write the workbook file: %1").arg(file->errorString()));
    return true;
}

} // namespace exporting
