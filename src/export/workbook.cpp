#include "export/workbook.h"

#include "export/rowpipeline.h"
#include "export/safefile.h"
#include "export/utf8.h"
#include "store/error.h"
#include "store/module1.h"
#include "store/recordset.h"

#include <array>
#include <cmath>

namespace exporting {

namespace {

// A field as the record set gives it (row()): a null QVariant, qlonglong,
// double or the text; for the messages that name a book.
QVariant valueOf(const store::FieldReader &row, int column)
{
    switch (row.type(column)) {
    case store::FieldReader::Type::Null: return {};
    case store::FieldReader::Type::Integer: return qlonglong(row.integer(column));
    case store::FieldReader::Type::Real: return row.real(column);
    case store::FieldReader::Type::Text: return decodeUtf8Lenient(row.utf8(column));
    }
    return {};
}

// The cells of one row, read from the engine's values without a QString or
// QVariant for each: texts go to the writer as the engine's UTF-8.
class RowCells {
public:
    // Numbers are written as numbers where a double holds them exactly;
    // everything else keeps its text, so nothing is reformatted or lost.
    void read(const store::FieldReader &row)
    {
        for (int c = 0; c < store::FieldCount; ++c) {
            CellView &cell = m_cells[c];
            cell = {};
            switch (row.type(c)) {
            case store::FieldReader::Type::Null: break;
            case store::FieldReader::Type::Integer: {
                const qint64 n = row.integer(c);
                if (n > -(1LL << 53) && n < (1LL << 53))
                    cell = {Cell::Kind::Number, {}, double(n), {}};
                else
                    setText(c, QString::number(n));
                break;
            }
            case store::FieldReader::Type::Real: {
                // Excel has no infinity or NaN: those keep their text.
                const double d = row.real(c);
                if (std::isfinite(d))
                    cell = {Cell::Kind::Number, {}, d, {}};
                else
                    setText(c, QVariant(d).toString());
                break;
            }
            case store::FieldReader::Type::Text:
                // Decoded by the writer, which decodes each distinct text once.
                cell = {Cell::Kind::Text, {}, 0, row.utf8(c)};
                break;
            }
        }
    }
    // The same from a row as the record set holds it.
    void read(const store::RecordSet::Row &row)
    {
        for (int c = 0; c < store::FieldCount; ++c) {
            const QVariant &v = row[c];
            CellView &cell = m_cells[c];
            cell = {};
            switch (v.typeId()) {
            case QMetaType::UnknownType: break;
            case QMetaType::LongLong: {
                const qlonglong n = v.toLongLong();
                if (n > -(1LL << 53) && n < (1LL << 53))
                    cell = {Cell::Kind::Number, {}, double(n), {}};
                else
                    setText(c, v.toString());
                break;
            }
            case QMetaType::Double:
                if (std::isfinite(v.toDouble()))
                    cell = {Cell::Kind::Number, {}, v.toDouble(), {}};
                else
                    setText(c, v.toString());
                break;
            default: setText(c, v.toString());
            }
        }
    }
    const CellView *cells() const { return m_cells.data(); }
    static constexpr size_t count() { return store::FieldCount; }
    // The first column whose text is longer than a cell holds, or -1; its
    // length in UTF-16 units.
    int tooLong(qsizetype &length)
    {
        for (int c = 0; c < store::FieldCount; ++c) {
            length = m_cells[c].text.size();
            // UTF-8 takes at least as many bytes as UTF-16 takes units.
            if (m_cells[c].utf8.size() > Biff8Writer::MaxTextLength) {
                std::vector<char16_t> &buffer = m_buffers[c];
                buffer.resize(size_t(m_cells[c].utf8.size()));
                length = decodeUtf8(m_cells[c].utf8, buffer.data());
                if (length < 0)
                    length = decodeUtf8Lenient(m_cells[c].utf8).size();
            }
            if (length > Biff8Writer::MaxTextLength)
                return c;
        }
        return -1;
    }

private:
    void setText(int column, QString text)
    {
        m_texts[column] = std::move(text);
        m_cells[column] = {Cell::Kind::Text, m_texts[column], 0, {}};
    }
    std::array<CellView, store::FieldCount> m_cells;
    std::array<std::vector<char16_t>, store::FieldCount> m_buffers;
    std::array<QString, store::FieldCount> m_texts;
};

} // namespace

QString exportPath() { return store::places().exportDirectory + QStringLiteral("/") + QStringLiteral("ブクレア.xls"); }

bool Workbook::copyFromRecordset(const store::RecordSet &rs, const Progress &progress)
{
    const int total = rs.recordCount();
    auto fresh = std::make_unique<Biff8Writer>();
    fresh->setRowCount(total);
    // The rows are read here and encoded on a second thread meanwhile, each
    // into its place in the list; the progress is told from here, the
    // caller's thread.
    RowPipeline encoder(RowCells::count(), [&fresh](RowBlock &block) {
        for (size_t r = 0; r < block.rows(); ++r) {
            if (!fresh->setRow(block.position(r), block.row(r), block.width()))
                return false;
        }
        return true;
    });
    // The check of each text's length leaves only the size of the whole file.
    auto tooLarge = [this] {
        m_error =
            QStringLiteral("一覧が大きすぎて、1 つのワークブックに入りきりません（ファイル形式の上限は 2 GiB です）。\n"
                           "検索で件数を絞ってから書き出してください。");
        return false;
    };
    RowCells cells;
    std::vector<bool> sent(size_t(total), false);
    int done = 0;
    // Hands the row in `cells` to the encoder as the row at `position`;
    // false with m_error when it cannot be stored.
    auto append = [&](qsizetype position, const auto &fieldText) {
        qsizetype length = 0;
        if (const int c = cells.tooLong(length); c >= 0) {
            // An earlier row the encoder refused comes first.
            if (!encoder.finish())
                return tooLarge();
            m_error = QStringLiteral("蔵書番号 %1「%2」の%3は %4 文字あり、1 つのセルに入りきりません"
                                     "（%5 文字まで）。\n何も書き出していません。")
                          .arg(fieldText(0), fieldText(1).left(40), store::fieldNames()[c])
                          .arg(length)
                          .arg(Biff8Writer::MaxTextLength);
            return false;
        }
        if (!encoder.add(position, cells.cells())) {
            encoder.finish(); // throws what the encoder threw
            return tooLarge();
        }
        sent[size_t(position)] = true;
        ++done;
        if (progress && ((done - 1) % 1024 == 0 || done == total))
            progress(done, total);
        return true;
    };
    bool refused = false;
    try {
        // One pass over the rows, in the order the file gives them fastest.
        rs.readAllByPosition([&](qsizetype position, const store::FieldReader &row) {
            // Rows added to the table since it was counted are not in the list.
            if (position >= total)
                return false;
            cells.read(row);
            refused = !append(position, [&](int column) { return valueOf(row, column).toString(); });
            return !refused;
        });
    } catch (const store::Error &) {
        // The pass stopped: the rows it did not hand over are read one by
        // one below, in the list's order, as the list reads them, which
        // either gets them or names the first row that cannot be read.
    }
    if (refused)
        return false;
    // Rows the pass did not reach; rows gone since the list was counted
    // read as empty.
    for (int i = 0; i < total; ++i) {
        if (sent[size_t(i)])
            continue;
        try {
            cells.read(rs.row(i));
        } catch (const store::Error &e) {
            // A row that cannot be read ends the export: a workbook with a
            // gap or an empty row in place of a book would look complete.
            m_error =
                QStringLiteral(
                    "一覧の %1 件目のデータを読めないため、書き出しを中止しました。何も書き出していません。\n\n%2")
                    .arg(i + 1)
                    .arg(e.message());
            return false;
        }
        if (!append(i, [&](int column) { return rs.text(i, column); }))
            return false;
    }
    if (!encoder.finish())
        return tooLarge();
    m_writer = std::move(fresh);
    return true;
}

bool Workbook::saveAs(const QString &path)
{
    SafeFile file(path);
    if (!file.open()) {
        m_error =
            store::fileError(QStringLiteral("ファイルを作れません。"), path, store::systemReason(file.systemError()))
                .message();
        return false;
    }
    if (!m_writer->write(file)) {
        // Without a system error the workbook itself was too large.
        m_error =
            store::fileError(QStringLiteral("ファイルに書き込めません。"), path,
                             file.systemError() ? store::systemReason(file.systemError())
                                                : QStringLiteral("ワークブックがファイル形式の上限の 2 GiB を超えます"))
                .message();
        return false;
    }
    if (!file.commit()) {
        m_error = store::fileError(QStringLiteral("ファイルに書き込めません。"), path,
                                   store::systemReason(file.systemError()))
                      .message();
        return false;
    }
    return true;
}

} // namespace exporting
