// bench_export DB.mdb OUT.xls: times the export of the whole collection, in
// ascending number order as the list screen shows it, into a workbook.
// Prints milliseconds, the file size and the peak resident memory.
#include "export/workbook.h"
#include "store/connection.h"
#include "store/recordset.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

static long peakRssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_export DB.mdb OUT.xls\n");
        return 2;
    }
    QElapsedTimer t;
    t.start();
    const store::RecordSet rs(store::Connection::open(QString::fromLocal8Bit(argv[1])),
                              QStringLiteral("select * from tabel order by 蔵書番号 asc;"));
    xls::Workbook book;
    if (!book.copyFromRecordset(rs) || !book.saveAs(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "%s\n", qPrintable(book.error()));
        return 1;
    }
    const qint64 ms = t.elapsed();
    std::printf("rows %d  time_ms %lld  size_bytes %lld  peak_rss_kb %ld\n", rs.recordCount(),
                static_cast<long long>(ms), static_cast<long long>(QFileInfo(QString::fromLocal8Bit(argv[2])).size()),
                peakRssKb());
    return 0;
}
