#include "export/workbook.h"

#include "store/module1.h"
#include "store/recordset.h"

#include <QSaveFile>

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
        const store::RecordSet::Row &row = rs.row(i);
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
            m_error = fresh->error();
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("ファイルを作れません。\n%1\n(%2)").arg(path, file.errorString());
        return false;
    }
    if (!m_writer->write(file)) {
        file.cancelWriting();
        m_error = QStringLiteral("ファイルに書き込めません。\n%1\n(%2)").arg(path, m_writer->error());
        return false;
    }
    if (!file.commit()) {
        m_error = QStringLiteral("ファイルに書き込めません。\n%1\n(%2)").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace xls
