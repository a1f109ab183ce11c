// Times backups of a collection. See BENCHMARKS.md and run_backup.sh.
//
// Usage: bench_backup copy APPDIR [RUNS]
//   A backup of APPDIR/BR.mdb as the program makes it (consistent copy
//   through SQLite's online backup, synced, renamed), beside the least the
//   same visible result needs done by SQLite in-process: the online backup
//   into a new file, without and with the sync. Each figure is the median of
//   RUNS (default 5) runs in milliseconds; output: one "name value" per line.
//
// Usage: bench_backup first-save APPDIR [RUNS]
//   "新規登録" on the registration screen over APPDIR/BR.mdb (the books
//   saved stay in it): the first save of a day, which makes the day's
//   backup, beside a later save the same day, which makes none. Each run
//   is another day, timed right after cp + sync of the same file (the
//   floor). Output: the medians, the median of the differences, and the
//   median of each day's difference over its floor.
#include "app/fonts.h"
#include "app/navigation.h"
#include "screens/common/messages.h"
#include "screens/menu/startmenu.h"
#include "screens/record_panel/recordpanel.h"
#include "screens/registration/registrationscreen.h"
#include "store/backup.h"
#include "store/error.h"
#include "store/module1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>

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

// One "新規登録" from the start menu's choice: the time of the click, which
// runs the save (with the day's backup when due) and closes the screen.
double timedSave(app::Navigator &navigator, int n)
{
    emit navigator.menu().registrationRequested();
    screens::RegistrationScreen *screen = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *m = qobject_cast<screens::RegistrationScreen *>(w); m && m->isVisible())
            screen = m;
    }
    if (!screen)
        qFatal("the registration screen did not open");
    screen->panel->TitleBox->setText(QStringLiteral("計測用の本 %1-%2").arg(QCoreApplication::applicationPid()).arg(n));
    const double ms = timed([&] { screen->Command1->click(); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    return ms;
}

int firstSave(const QString &dir, int runs)
{
    app::installFontSubstitutions();
    QApplication::setQuitOnLastWindowClosed(false);
    store::setApplicationDirectory(dir);
    // A failed backup would ask; the bench counts it as a failure instead.
    bool asked = false;
    screens::setMessageHandler([&asked](const screens::Message &m) {
        std::fprintf(stderr, "%s\n", qPrintable(m.text));
        asked = true;
        return QMessageBox::No;
    });
    app::Navigator navigator;
    // One save the day before, untimed: a collection no save has touched
    // yet first builds its index of titles and authors (a pass over every
    // book, paid once per file, not once per day), which is not the
    // backup's cost.
    store::Backups::setClock([] { return QDateTime(QDate(2024, 2, 29), QTime(9, 0)); });
    timedSave(navigator, -1);
    // Each day beside its floor, cp + sync of the same file just before:
    // a disk that is slower one minute than the next slows both.
    const QString db = dir + QStringLiteral("/BR.mdb"), floorCopy = dir + QStringLiteral("/floor.tmp");
    std::vector<double> first, later, added, floor, ratio;
    for (int i = 0; i < runs; ++i) {
        floor.push_back(timed([&] {
            if (QProcess::execute(QStringLiteral("sh"),
                                  {QStringLiteral("-c"), QStringLiteral("cp \"$1\" \"$2\" && sync \"$2\""),
                                   QStringLiteral("sh"), db, floorCopy})
                != 0)
                qFatal("cp + sync failed");
        }));
        QFile::remove(floorCopy);
        store::Backups::setClock([i] { return QDateTime(QDate(2024, 3, 1).addDays(i), QTime(9, 0)); });
        first.push_back(timedSave(navigator, 2 * i));
        later.push_back(timedSave(navigator, 2 * i + 1));
        added.push_back(first.back() - later.back());
        ratio.push_back(added.back() / floor.back());
    }
    if (asked) {
        std::fprintf(stderr, "a save or a backup failed\n");
        return 1;
    }
    print("first_save_ms", median(first));
    print("later_save_ms", median(later));
    print("added_ms", median(added));
    print("floor_ms", median(floor));
    std::printf("added_over_floor %.2f\n", median(ratio));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool screens = argc >= 3 && qstrcmp(argv[1], "first-save") == 0;
    if (argc < 3 || (!screens && qstrcmp(argv[1], "copy") != 0)) {
        std::fprintf(stderr, "usage: bench_backup copy|first-save APPDIR [RUNS]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    if (screens) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return firstSave(dir, runs);
    }
    QCoreApplication app(argc, argv);

    const QString db = dir + QStringLiteral("/BR.mdb");
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
