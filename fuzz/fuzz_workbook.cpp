// The workbook writer on any texts and numbers: rows it accepts make a file
// whose structure is sound (checked with the tests' own reader of the
// format) and whose string table holds exactly the texts given; rows it
// refuses leave it unchanged; writing twice gives the same bytes.
//
// Input, byte by byte: what comes next in the row being built.
//   0  the row ends and is appended
//   1  a text cell: a length byte, then that many UTF-16 code units
//   2  a long text cell: two length bytes, then the units, as far as the
//      input goes
//   3  a number cell: eight bytes of a double (NaN and infinities included)
//   4  an empty cell

#include "export/biff8_writer.h"
#include "export/xls_readback.h"

#include <QBuffer>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fault(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "%s %s\n", what, qPrintable(detail));
    std::abort();
}

// What the string table holds for a text: lone surrogates become U+FFFD.
QString asStored(const QString &text)
{
    if (text.isValidUtf16())
        return text;
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    exporting::Biff8Writer writer;
    std::vector<exporting::Cell> row;
    QStringList strings; // distinct texts in the order first written
    int rows = 0;
    std::size_t i = 0;
    const auto take = [&](std::size_t n) {
        const std::size_t k = std::min(n, size - i);
        i += k;
        return k;
    };
    const auto append = [&] {
        const bool accepted = writer.appendRow(row);
        if (accepted) {
            ++rows;
            for (const exporting::Cell &c : row) {
                if (c.kind == exporting::Cell::Kind::Text && !c.text.isEmpty() && !strings.contains(asStored(c.text)))
                    strings << asStored(c.text);
            }
        } else if (writer.error().isEmpty()) {
            fault("a refused row without a reason");
        }
        if (writer.rowCount() != rows)
            fault("row count", QString::number(writer.rowCount()));
        row.clear();
    };
    while (i < size) {
        const int what = data[i++] % 5;
        switch (what) {
        case 0: append(); break;
        case 1:
        case 2: {
            std::size_t units = i < size ? data[i++] : 0;
            if (what == 2 && i < size)
                units = units << 8 | data[i++];
            const std::size_t start = i, got = take(units * 2) / 2;
            QString text(qsizetype(got), Qt::Uninitialized);
            std::memcpy(text.data(), data + start, got * 2);
            row.push_back(exporting::Cell::fromText(text));
            break;
        }
        case 3: {
            double v = 0;
            const std::size_t start = i, got = take(8);
            std::memcpy(&v, data + start, got);
            row.push_back(exporting::Cell::fromNumber(v));
            break;
        }
        default: row.push_back(exporting::Cell::empty());
        }
    }
    if (!row.empty())
        append();

    QBuffer first, second;
    first.open(QIODevice::WriteOnly);
    second.open(QIODevice::WriteOnly);
    if (!writer.write(first) || !writer.write(second))
        fault("write failed", writer.error());
    if (first.data() != second.data())
        fault("writing twice gives different bytes");
    RawWorkbook raw;
    if (const QString wrong = checkStructure(first.data(), raw); !wrong.isEmpty())
        fault("unsound file:", wrong);
    if (raw.strings != strings)
        fault("the string table holds other texts");
    return 0;
}
