// bench_export DB.mdb OUT.xls [floor]: the export of the whole collection, in
// ascending number order as the list screen shows it after loading, into a
// workbook. Prints the rows, open_ms (opening the record set, which the list
// has done before the user clicks), export_ms (from the open record set to
// the closed file: what the user waits for), the file size and the peak
// resident memory. With "floor", then also floor_ms: SQLite in the same
// process reading every field of the same rows in the same order.
#include "export/workbook.h"
#include "floor.h"
#include "measure.h"
#include "store/connection.h"
#include "store/recordset.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_export DB.mdb OUT.xls [floor]\n");
        return 2;
    }
    const QString db = QString::fromLocal8Bit(argv[1]), out = QString::fromLocal8Bit(argv[2]);
    std::unique_ptr<store::RecordSet> rs;
    const bench::Sample open = bench::timed([&] {
        rs = std::make_unique<store::RecordSet>(
            store::Connection::open(db),
            store::RecordSource::sorted(store::Field::Number, store::Direction::Ascending));
    });
    bool ok = true;
    QString error;
    const bench::Sample exported = bench::timed([&] {
        exporting::Workbook book;
        ok = book.copyFromRecordset(*rs) && book.saveAs(out);
        error = book.error();
    });
    if (!ok) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("rows %d  open_ms %.1f  export_ms %.1f  size_bytes %lld  peak_rss_kb %.0f", rs->recordCount(),
                open.wallMs, exported.wallMs, static_cast<long long>(QFileInfo(out).size()),
                bench::statusMB("VmHWM") * 1024);
    if (argc > 3 && std::strcmp(argv[3], "floor") == 0) {
        const bench::Sample floor = bench::timed([&] {
            bench::Floor f(argv[1]);
            f.readAll("SELECT * FROM tabel ORDER BY 蔵書番号 ASC, rowid");
        });
        std::printf("  floor_ms %.1f  export/floor %.2f", floor.wallMs, exported.wallMs / floor.wallMs);
    }
    std::printf("\n");
    return 0;
}
