// Times backups of a collection. See BENCHMARKS.md and run_backup.sh.
//
// Usage: bench_backup copy APPDIR [RUNS]
//   A backup of APPDIR/BR.mdb as the program makes it (consistent copy
//   through SQLite's online backup, synced, renamed), beside the least the
//   same visible result needs done by SQLite in-process: the online backup
//   into a new file, without and with the sync. Each figure is the median of
//   RUNS (default 5) runs in milliseconds; output: one "name value" per line.
#include "store/backup.h"
#include "store/error.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double timed(const std::function<void()> &f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e6;
}

void print(const char *name, double value) { std::printf("%s %.1f\n", name, value); }

// The floor: SQLite's online backup of the whole file into a new one.
void sqliteCopy(const QString &from, const QString &to, bool sync)
{
    QFile::remove(to);
    sqlite3 *src = nullptr, *dst = nullptr;
    sqlite3_open_v2(from.toUtf8().constData(), &src, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_open(to.toUtf8().constData(), &dst);
    sqlite3_exec(dst, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    sqlite3_backup *b = sqlite3_backup_init(dst, "main", src, "main");
    const int rc = sqlite3_backup_step(b, -1);
    sqlite3_backup_finish(b);
    sqlite3_close(dst);
    sqlite3_close(src);
    if (rc != SQLITE_DONE)
        qFatal("the copy failed: %d", rc);
    if (sync) {
        const int fd = ::open(QFile::encodeName(to).constData(), O_RDONLY);
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3 || qstrcmp(argv[1], "copy") != 0) {
        std::fprintf(stderr, "usage: bench_backup copy APPDIR [RUNS]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[2]);
    const QString db = dir + QStringLiteral("/BR.mdb");
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    const QString floorCopy = dir + QStringLiteral("/floor.tmp");

    std::vector<double> ours, plain, synced;
    for (int i = 0; i < runs; ++i) {
        try {
            QString made;
            ours.push_back(timed([&] { made = store::Backups(db).make(); }));
            QFile::remove(made);
        } catch (const store::Error &e) {
            std::fprintf(stderr, "%s\n", qPrintable(e.message()));
            return 1;
        }
        plain.push_back(timed([&] { sqliteCopy(db, floorCopy, false); }));
        synced.push_back(timed([&] { sqliteCopy(db, floorCopy, true); }));
    }
    QFile::remove(floorCopy);
    QDir(dir).rmdir(QStringLiteral("backup"));
    print("backup_ms", median(ours));
    print("sqlite_copy_ms", median(plain));
    print("sqlite_copy_sync_ms", median(synced));
    return 0;
}
