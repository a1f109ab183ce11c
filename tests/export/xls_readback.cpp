#include "export/xls_readback.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QUrl>
#include <QtEndian>

#include <freexl.h>

#include <cstdlib>
#include <map>

namespace {

// FreeXL's UTF-8, with a leading U+FEFF kept as the character it is.
QString fromUtf8(const char *text)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(text));
}

} // namespace

bool readWithFreeXl(const QString &path, SheetsRead &book, QString &error)
{
    const void *h = nullptr;
    int rc = freexl_open(QFile::encodeName(path).constData(), &h);
    unsigned int count = 0;
    if (rc == FREEXL_OK)
        rc = freexl_get_info(h, FREEXL_BIFF_SHEET_COUNT, &count);
    book = {};
    for (unsigned short sheet = 0; rc == FREEXL_OK && sheet < count; ++sheet) {
        const char *name = nullptr;
        unsigned int rows = 0;
        unsigned short cols = 0;
        rc = freexl_get_worksheet_name(h, sheet, &name);
        if (rc == FREEXL_OK)
            rc = freexl_select_active_worksheet(h, sheet);
        if (rc == FREEXL_OK)
            rc = freexl_worksheet_dimensions(h, &rows, &cols);
        book.names << QString::fromUtf8(name);
        SheetCells &grid = book.sheets.emplace_back(rows, std::vector<QVariant>(cols));
        for (unsigned r = 0; rc == FREEXL_OK && r < rows; ++r) {
            for (unsigned short c = 0; rc == FREEXL_OK && c < cols; ++c) {
                FreeXL_CellValue v;
                v.type = FREEXL_CELL_NULL;
                rc = freexl_get_cell_value(h, r, c, &v);
                if (v.type == FREEXL_CELL_INT)
                    grid[r][c] = double(v.value.int_value);
                else if (v.type == FREEXL_CELL_DOUBLE)
                    grid[r][c] = v.value.double_value;
                else if (v.type == FREEXL_CELL_TEXT || v.type == FREEXL_CELL_SST_TEXT)
                    grid[r][c] = fromUtf8(v.value.text_value);

                else if (v.type != FREEXL_CELL_NULL)
                    grid[r][c] = QStringLiteral("<unexpected type %1>").arg(v.type);
            }
        }
    }
    freexl_close(h);
    error = QStringLiteral("FreeXL error %1").arg(rc);
    return rc == FREEXL_OK;
}

bool readWithFreeXl(const QString &path, SheetCells &grid, QString &error)
{
    SheetsRead book;
    const bool ok = readWithFreeXl(path, book, error) && !book.sheets.empty();
    grid = ok ? book.sheets.front() : SheetCells();
    return ok;
}

bool readWithXlrd(const QString &path, SheetsRead &book, QString &error, bool &unavailable)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(XLRD_DUMP_SCRIPT), path});
    p.waitForFinished(120000);
    unavailable = p.error() == QProcess::FailedToStart || p.exitCode() == 3;
    const QJsonDocument doc = QJsonDocument::fromJson(p.readAllStandardOutput());
    error = QString::fromUtf8(p.readAllStandardError());
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !doc.isObject())
        return false;
    book = {};
    for (const QJsonValue &name : doc[QLatin1String("names")].toArray())
        book.names << name.toString();
    for (const QJsonValue &sheet : doc[QLatin1String("sheets")].toArray()) {
        SheetCells &grid = book.sheets.emplace_back();
        for (const QJsonValue &row : sheet.toArray()) {
            grid.emplace_back();
            for (const QJsonValue &v : row.toArray()) {
                // Numbers come as hexadecimal floating point text: exact to the bit.
                const QByteArray hex = v[QLatin1String("hex")].toString().toLatin1();
                grid.back().push_back(v.isObject()   ? QVariant(std::strtod(hex.constData(), nullptr))
                                      : v.isString() ? QVariant(v.toString())
                                                     : QVariant());
            }
        }
    }
    return true;
}

bool readWithXlrd(const QString &path, SheetCells &grid, QString &error, bool &unavailable)
{
    SheetsRead book;
    const bool ok = readWithXlrd(path, book, error, unavailable) && !book.sheets.empty();
    grid = ok ? book.sheets.front() : SheetCells();
    return ok;
}

namespace {

// RFC 4180 CSV as LibreOffice writes it: fields in double quotes where
// needed, quotes doubled inside them, line breaks allowed inside.
SheetCells parseCsv(const QString &text)
{
    SheetCells grid;
    std::vector<QVariant> row;
    QString field;
    bool quoted = false, wasQuoted = false;
    auto endField = [&] {
        row.push_back(field.isEmpty() && !wasQuoted ? QVariant() : QVariant(field));
        field.clear();
        wasQuoted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = wasQuoted = true;
        } else if (c == u',') {
            endField();
        } else if (c == u'\n') {
            endField();
            grid.push_back(std::move(row));
            row.clear();
        } else if (c != u'\r') {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.empty()) {
        endField();
        grid.push_back(std::move(row));
    }
    return grid;
}

} // namespace

bool readWithLibreOffice(const QString &path, SheetsRead &book, QString &error, bool &unavailable)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    unavailable = soffice.isEmpty();
    if (unavailable)
        return false;
    QTemporaryDir work; // the output and a profile of its own, so that nothing is shared
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    // Comma, double quote, UTF-8, from line 1, ..., every sheet (-1) to a file of its own.
    p.start(soffice, {QStringLiteral("-env:UserInstallation=")
                          + QUrl::fromLocalFile(work.filePath(QStringLiteral("profile"))).toString(),
                      QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                      QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1"),
                      QStringLiteral("--outdir"), work.path(), path});
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        error = QStringLiteral("soffice failed: ") + QString::fromUtf8(p.readAll());
        return false;
    }
    // One file per worksheet: <name of the workbook>-<name of the sheet>.csv
    const QString stem = QFileInfo(path).completeBaseName() + u'-';
    QMap<int, QString> files;
    for (const QString &f : QDir(work.path()).entryList({QStringLiteral("*.csv")}, QDir::Files)) {
        const QString sheet = f.mid(stem.size()).chopped(4);
        if (f.startsWith(stem) && sheet.startsWith(QLatin1String("Sheet")))
            files.insert(sheet.mid(5).toInt(), sheet);
    }
    book = {};
    for (const QString &sheet : files) {
        QFile f(work.filePath(stem + sheet + QStringLiteral(".csv")));
        if (!f.open(QIODevice::ReadOnly)) {
            error = f.errorString();
            return false;
        }
        book.names << sheet;
        book.sheets.push_back(parseCsv(QString::fromUtf8(f.readAll())));
    }
    if (book.sheets.empty()) {
        error = QStringLiteral("soffice wrote no CSV file: ") + QString::fromUtf8(p.readAll());
        return false;
    }
    return true;
}

namespace {

quint16 u16(const QByteArray &b, qsizetype p) { return qFromLittleEndian<quint16>(b.constData() + p); }
quint32 u32(const QByteArray &b, qsizetype p) { return qFromLittleEndian<quint32>(b.constData() + p); }

// Records that hold cells: LABELSST, NUMBER, RK, MULRK.
bool isCell(quint16 type) { return type == 0x00FD || type == 0x0203 || type == 0x027E || type == 0x00BD; }

} // namespace

QString readWorkbookStream(const QByteArray &f, QByteArray &stream, RawWorkbook &raw)
{
    if (f.size() < 1024 || f.size() % 512 || !f.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return QStringLiteral("not a compound file of whole sectors");
    const quint32 sectors = quint32(f.size() / 512 - 1);
    auto at = [](quint32 s) { return 512 + qsizetype(s) * 512; };
    std::vector<quint32> fatSectors;
    const quint32 fatCount = u32(f, 44);
    for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(u32(f, 76 + 4 * i));
    for (quint32 d = u32(f, 68); fatSectors.size() < fatCount; d = u32(f, at(d) + 508), ++raw.difatSectors) {
        if (d >= sectors)
            return QStringLiteral("DIFAT chain leaves the file");
        for (int i = 0; i < 127 && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(u32(f, at(d) + 4 * i));
    }
    if (raw.difatSectors != u32(f, 72))
        return QStringLiteral("header counts %1 DIFAT sectors, found %2").arg(u32(f, 72)).arg(raw.difatSectors);
    std::vector<quint32> fat;
    for (quint32 s : fatSectors) {
        if (s >= sectors)
            return QStringLiteral("FAT sector outside the file");
        for (int i = 0; i < 128; ++i)
            fat.push_back(u32(f, at(s) + 4 * i));
    }
    auto chain = [&](quint32 s, QByteArray &out) {
        for (quint32 n = 0; s != 0xFFFFFFFE; s = fat[s], ++n) {
            if (s >= sectors || s >= fat.size() || n > sectors)
                return false;
            out.append(f.mid(at(s), 512));
        }
        return true;
    };
    QByteArray dir;
    if (!chain(u32(f, 48), dir))
        return QStringLiteral("broken directory chain");
    const quint32 child = u32(dir, 76); // the root entry's child
    if (dir.size() < qsizetype(child + 1) * 128 || dir[child * 128 + 66] != 2
        || QString::fromUtf16(reinterpret_cast<const char16_t *>(dir.constData() + child * 128))
               != QLatin1String("Workbook"))
        return QStringLiteral("the root entry's child is no stream named Workbook");
    const quint32 size = u32(dir, child * 128 + 120);
    if (!chain(u32(dir, child * 128 + 116), stream) || stream.size() < size)
        return QStringLiteral("broken Workbook stream chain");
    stream.truncate(size);
    return {};
}

QString checkStructure(const QByteArray &file, RawWorkbook &raw)
{
    QByteArray s;
    if (QString fault = readWorkbookStream(file, s, raw); !fault.isEmpty())
        return fault;
    // Every record: position -> type. Globals first, then each sheet from
    // where its BOUNDSHEET points, up to its EOF.
    std::map<qsizetype, quint16> records;
    std::vector<std::pair<qsizetype, QByteArray>> sstRecords; // position, data
    QByteArray extSst;
    std::vector<qsizetype> sheets;
    std::map<qsizetype, quint16> window2; // sheet -> WINDOW2 flags
    bool inSst = false;
    size_t next = 0; // the sheet to read after the next EOF
    for (qsizetype p = 0, start = 0; p + 4 <= s.size();) {
        const quint16 type = u16(s, p), len = u16(s, p + 2);
        if (len > 8224 || p + 4 + len > s.size())
            return QStringLiteral("record 0x%1 at %2: bad length %3").arg(type, 0, 16).arg(p).arg(len);
        records[p] = type;
        const QByteArray data = s.mid(p + 4, len);
        if (type == 0x0085 && start == 0) {
            sheets.push_back(u32(data, 0));
            raw.sheetNames << QString::fromUtf16(reinterpret_cast<const char16_t *>(data.constData() + 8),
                                                 quint8(data[6]));
        }
        if (type == 0x023E)
            window2[start] = u16(data, 0);
        // MULRK: row, first column, 6 bytes a cell (XF, RK value), last column.
        if (type == 0x00BD
            && (len < 18 || (len - 6) % 6 != 0 || u16(data, len - 2) != u16(data, 2) + (len - 6) / 6 - 1))
            return QStringLiteral("MULRK at %1: its length and last column disagree").arg(p);
        inSst = type == 0x00FC || (inSst && type == 0x003C);
        if (inSst)
            sstRecords.emplace_back(p, data);
        else if (type == 0x00FF)
            extSst = data;
        p += 4 + len;
        if (type == 0x000A) { // EOF: globals or a sheet done, go to the next sheet
            if (next == sheets.size() || sheets[next] <= 0 || sheets[next] > s.size() - 4)
                break;
            p = start = sheets[next++];
        }
    }
    if (sheets.empty())
        return QStringLiteral("no BOUNDSHEET");
    for (size_t k = 0; k < sheets.size(); ++k) {
        if (records.count(sheets[k]) == 0 || records[sheets[k]] != 0x0809)
            return QStringLiteral("BOUNDSHEET %1 does not point at its sheet's BOF").arg(k);
        if (k > 0 && sheets[k] <= sheets[k - 1])
            return QStringLiteral("sheet %1 does not follow sheet %2 in the stream").arg(k).arg(k - 1);
        // Exactly the first sheet is selected and shown (WINDOW1 counts one).
        if (window2.count(sheets[k]) == 0 || bool(window2[sheets[k]] & 0x0600) != (k == 0))
            return QStringLiteral("sheet %1: WINDOW2 missing or its selection wrong").arg(k);
    }

    // Shared strings: count them, see how the records split them, and note
    // where each one starts (stream position, offset in its record).
    if (sstRecords.empty())
        return QStringLiteral("no SST record");
    std::vector<std::pair<quint32, quint16>> starts;
    size_t rec = 0;
    qsizetype pos = 8;
    auto nextRecord = [&] {
        pos = 0;
        return ++rec < sstRecords.size();
    };
    const quint32 unique = u32(sstRecords[0].second, 4);
    for (quint32 i = 0; i < unique; ++i) {
        if (pos == sstRecords[rec].second.size()) {
            if (!nextRecord())
                return QStringLiteral("SST ends before string %1").arg(i);
            ++raw.continuesAtStringStart;
        }
        const QByteArray *d = &sstRecords[rec].second;
        if (pos + 3 > d->size() || ((*d)[pos + 2] != 1) || (u16(*d, pos) > 0 && pos + 5 > d->size()))
            return QStringLiteral("string %1: header or first character split, or not UTF-16").arg(i);
        starts.emplace_back(quint32(sstRecords[rec].first + 4 + pos), quint16(4 + pos));
        raw.strings.append(QString());
        qsizetype left = u16(*d, pos);
        for (pos += 3; left > 0;) {
            if (pos == d->size()) {
                if (!nextRecord() || sstRecords[rec].second[0] != 1)
                    return QStringLiteral("string %1: continuation without UTF-16 flag").arg(i);
                ++raw.continuesInsideString;
                d = &sstRecords[rec].second;
                pos = 1;
            }
            const qsizetype take = std::min<qsizetype>(left, (d->size() - pos) / 2);
            if (take == 0 || (take < left && QChar::isHighSurrogate(u16(*d, pos + 2 * take - 2))))
                return QStringLiteral("string %1: a character is split between records").arg(i);
            raw.strings.back() += QStringView(reinterpret_cast<const char16_t *>(d->constData() + pos), take);
            pos += 2 * take;
            left -= take;
        }
    }
    if (rec + 1 != sstRecords.size() || pos != sstRecords[rec].second.size())
        return QStringLiteral("SST holds more than its %1 strings").arg(unique);
    const quint16 bucket = u16(extSst, 0);
    for (size_t k = 0; bucket >= 8 && k * bucket < starts.size(); ++k) {
        if (extSst.size() < qsizetype(2 + 8 * (k + 1)) || u32(extSst, 2 + 8 * k) != starts[k * bucket].first
            || u16(extSst, 6 + 8 * k) != starts[k * bucket].second)
            return QStringLiteral("EXTSST bucket %1 points elsewhere").arg(k);
    }

    // Each sheet: blocks of rows within one group of 32 (0-31, 32-63...),
    // their ROW records first, in order, then their cells, row by row;
    // every cell within its row's first and last column, every row with
    // cells described by a ROW record.
    int describedRows = 0;
    for (size_t k = 0; k < sheets.size(); ++k) {
        std::map<quint16, std::pair<quint16, quint16>> block; // row -> first column, last column + 1
        int lastRow = -1, lastCellRow = -1, lastCol = -1;
        bool cellsStarted = false;
        for (auto it = records.upper_bound(sheets[k]); it != records.end() && it->second != 0x000A; ++it) {
            const qsizetype p = it->first;
            if (it->second == 0x0208) {
                const quint16 row = u16(s, p + 4);
                if (cellsStarted) {
                    block.clear();
                    cellsStarted = false;
                }
                if (int(row) <= lastRow || (!block.empty() && block.begin()->first / 32 != row / 32))
                    return QStringLiteral("sheet %1, ROW %2: out of order or outside its block").arg(k).arg(row);
                block[row] = {u16(s, p + 6), u16(s, p + 8)};
                lastRow = row;
                ++describedRows;
            } else if (isCell(it->second)) {
                cellsStarted = true;
                const quint16 row = u16(s, p + 4), first = u16(s, p + 6);
                const quint16 last = it->second == 0x00BD ? u16(s, p + 4 + u16(s, p + 2) - 2) : first;
                const auto described = block.find(row);
                if (described == block.end() || first < described->second.first || last >= described->second.second
                    || int(row) < lastCellRow || (int(row) == lastCellRow && int(first) <= lastCol))
                    return QStringLiteral("sheet %1, row %2, column %3: a cell outside its ROW record or out of order")
                        .arg(k)
                        .arg(row)
                        .arg(first);
                lastCellRow = row;
                lastCol = last;
            }
        }
    }
    quint32 labels = 0;
    int rowRecords = 0;
    for (const auto &[p, type] : records) {
        labels += (p > sheets.front() && type == 0x00FD);
        rowRecords += (type == 0x0208);
    }
    if (rowRecords != describedRows)
        return QStringLiteral("%1 ROW records, %2 of them in the worksheets").arg(rowRecords).arg(describedRows);
    if (labels != u32(sstRecords[0].second, 0))
        return QStringLiteral("SST counts %1 references, the sheet has %2")
            .arg(u32(sstRecords[0].second, 0))
            .arg(labels);
    return {};
}
