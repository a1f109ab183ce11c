#include "export/workbook.h"

#include "export/safefile.h"
#include "store/error.h"
#include "store/module1.h"
#include "store/recordset.h"

#include <cmath>

namespace xls {

namespace {

// Numbers are written as numbers where a double holds them exactly;
// everything else keeps its text, so nothing is reformatted or lost.
Cell cellOf(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::UnknownType: return Cell::empty();
    case QMetaType::LongLong: {
        const qlonglong n = v.toLongLong();
        return (n > -(1LL << 53) && n < (1LL << 53)) ? Cell::fromNumber(double(n)) : Cell::fromText(v.toString());
    }
    case QMetaType::Double: // Excel has no infinity or NaN: those keep their text
        return std::isfinite(v.toDouble()) ? Cell::fromNumber(v.toDouble()) : Cell::fromText(v.toString());
    default: return Cell::fromText(v.toString());
    }
}

} // namespace

QString exportPath() { return Module1::applicationDirectory() + QStringLiteral("/") + QStringLiteral("ブクレア.xls"); }

bool Workbook::copyFromRecordset(const store::RecordSet &rs, const Progress &progress)
{
    const int total = rs.recordCount();
    auto fresh = std::make_unique<Biff8Writer>();
    std::vector<Cell> cells(store::FieldCount);
    for (int i = 0; i < total; ++i) {
        // A row that cannot be read ends the export: a workbook with a gap
        // or an empty row in place of a book would look complete.
        const store::RecordSet::Row *read = nullptr;
        try {
            read = &rs.row(i);
        } catch (const store::Error &e) {
            m_error = QStringLiteral("一覧の %1 件目のデータを読めないため、書き出しを中止しました。何も書き出していません。\n\n%2")
                          .arg(i + 1)
                          .arg(e.message());
            return false;
        }
        const store::RecordSet::Row &row = *read;
        for (int c = 0; c < store::FieldCount; ++c) {
            cells[c] = cellOf(row[c]);
            if (cells[c].kind == Cell::Kind::Text && cells[c].text.size() > Biff8Writer::MaxTextLength) {
                m_error = QStringLiteral("蔵書番号 %1「%2」の%3は %4 文字あり、1 つのセルに入りきりません"
                                         "（%5 文字まで）。\n何も書き出していません。")
                              .arg(rs.text(i, 0), rs.text(i, 1).left(40), store::fieldNames()[c])
                              .arg(cells[c].text.size())
                              .arg(Biff8Writer::MaxTextLength);
                return false;
            }
        }
        // A full worksheet: the list goes on at row 1 of the next one.
        if (fresh->rowCount() == Biff8Writer::MaxRows)
            fresh->addSheet();
        if (!fresh->appendRow(cells)) {
            // The checks above leave only the size of the whole file.
            m_error = QStringLiteral("一覧が大きすぎて、1 つのワークブックに入りきりません（ファイル形式の上限は 2 GiB です）。\n"
                                     "検索で件数を絞ってから書き出してください。");
            return false;
        }
        if (progress && (i % 1024 == 0 || i + 1 == total))
            progress(i + 1, total);
    }
    m_writer = std::move(fresh);
    return true;
}

bool Workbook::saveAs(const QString &path)
{
    SafeFile file(path);
    if (!file.open()) {
        m_error = store::fileError(QStringLiteral("ファイルを作れません。"), path, store::systemReason(file.systemError())).message();
        return false;
    }
    if (!m_writer->write(file)) {
        // Without a system error the workbook itself was too large.
        m_error = store::fileError(QStringLiteral("ファイルに書き込めません。"), path,
                                   file.systemError() ? store::systemReason(file.systemError())
                                                      : QStringLiteral("ワークブックがファイル形式の上限 (2 GiB) を超えます"))
                      .message();
        return false;
    }
    if (!file.commit()) {
        m_error = store::fileError(QStringLiteral("ファイルに書き込めません。"), path, store::systemReason(file.systemError()))
                      .message();
        return false;
    }
    return true;
}

} // namespace xls
