// bench_access OLD.mdb NEW.mdb: converts an Access file into a new book
// database as the program does, reader process included. Prints the
// milliseconds, the rows, and the peak resident memory of this process (the
// store's side) and of the reader (bukurea-jet, its largest child).
#include "store/accessconversion.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_access OLD.mdb NEW.mdb\n");
        return 2;
    }
    qint64 rows = 0;
    store::AccessConversionOptions options;
    options.progress = [&](qint64 done, qint64) { rows = done; };
    QElapsedTimer t;
    t.start();
    try {
        store::convertAccessFile(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), options);
    } catch (const store::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("ms %.1f\nrows %lld\nparent_peak_mb %.1f\nreader_peak_mb %.1f\n", ms, rows, self.ru_maxrss / 1024.0,
                children.ru_maxrss / 1024.0);
    return 0;
}
