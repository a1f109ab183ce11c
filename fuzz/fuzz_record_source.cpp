// The record-source statement parser on any text: it returns a statement or
// throws store::Error, nothing else; what it read, written back plainly,
// reads the same; and any text quoted as a keyword comes back unchanged.

#include "store/error.h"
#include "store/statement.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fault(const char *what, const QString &source)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(source));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString source = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const store::Statement st = store::parseRecordSource(source);
        QString again = QStringLiteral("select * from tabel");
        if (!st.filterField.isEmpty())
            again += QStringLiteral(" where [%1] like '%2'").arg(st.filterField, store::quoteText(st.pattern));
        if (!st.orderField.isEmpty())
            again += QStringLiteral(" order by [%1] %2").arg(st.orderField, st.descending ? u"desc" : u"asc");
        const store::Statement back = store::parseRecordSource(again);
        if (back.filterField != st.filterField || back.pattern != st.pattern || back.orderField != st.orderField
            || back.descending != st.descending)
            fault("written back, it reads differently", source);
    } catch (const store::Error &) {
    }
    try {
        const QString quoted = QStringLiteral("select * from tabel where 書名 like '") + store::quoteText(source) + u'\'';
        if (store::parseRecordSource(quoted).pattern != source)
            fault("a quoted keyword comes back changed", source);
    } catch (const store::Error &) {
        fault("a quoted keyword is refused", source);
    }
    return 0;
}
