// Times the list screen on a collection: opening it until the grid is
// painted, a field search, the three sorts and the reset, and reports the
// resident memory of the open list. See BENCHMARKS.md and run_list.sh.
//
// Usage: bench_list APPDIR [RUNS]
//   APPDIR holds the collection as BR.mdb. Each figure is the median of RUNS
//   (default 5) runs, in milliseconds. Output: one "name value" per line.

#include "app/fonts.h"
#include "store/module1.h"
#include "app/navigation.h"
#include "screens/list/db.h"
#include "screens/list/grid.h"
#include "screens/common/messages.h"
#include "screens/menu/menu.h"
#include "screens/common/datacontrol.h"
#include "store/recordset.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using screens::db;

namespace {

// A figure of /proc/self/status in MB ("VmRSS", "VmHWM").
double statusMB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key)) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            return parts.value(1).toDouble() / 1024.0;
        }
    }
    return -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

db *shownList()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *screen = qobject_cast<db *>(w); screen && screen->isVisible())
            return screen;
    }
    return nullptr;
}

void closeList(db *screen)
{
    screen->unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Everything a user waits for after a click: the handler and the grid's
// repaint with the new rows.
double timedClick(db *screen, QPushButton *button)
{
    QElapsedTimer t;
    t.start();
    button->click();
    QCoreApplication::processEvents();
    screen->fg->grab();
    return t.nsecsElapsed() / 1e6;
}

void print(const char *name, double value) { std::printf("%s %.1f\n", name, value); }
void print(const char *name, int value) { std::printf("%s %d\n", name, value); }

// The store alone, without the screen: one refresh of the data control.
double refreshMs(common::DataControl &data, const QString &source)
{
    data.setRecordSource(source);
    QElapsedTimer t;
    t.start();
    data.refresh();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_list APPDIR [RUNS]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app::installFontSubstitutions();
    app.setQuitOnLastWindowClosed(false);
    Module1::setApplicationDirectory(QString::fromLocal8Bit(argv[1]));
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    // A search without a hit would wait for the user; count it instead.
    int messages = 0;
    common::setMessageHandler([&messages](const common::Message &) {
        ++messages;
        return QMessageBox::Ok;
    });
    app::Navigator navigator; // its start menu is where the list returns to

    print("rss_before_open_mb", statusMB("VmRSS"));

    // Opening: the start menu's path (create, load, show) until the grid
    // has painted its first rows.
    std::vector<double> open;
    int rows = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        emit navigator.menu().listRequested(); // the start menu's "データ一覧"
        db *screen = shownList();
        if (!screen) {
            std::fprintf(stderr, "the list did not open\n");
            return 1;
        }
        QCoreApplication::processEvents();
        screen->grab();
        open.push_back(t.nsecsElapsed() / 1e6);
        if (i == 0)
            print("open_first_ms", open.back());
        rows = screen->bookCount;
        if (i + 1 < runs)
            closeList(screen);
    }
    print("books", rows);
    print("open_ms", median(open));
    print("rss_open_mb", statusMB("VmRSS"));

    db *screen = shownList();
    screen->Text1->setText(QStringLiteral("の"));
    struct Action {
        const char *name;
        QPushButton *button;
    };
    const Action actions[] = {
        {"search_title_no_ms", screen->Command14},
        {"sort_number_desc_ms", screen->Command15},
        {"sort_year_desc_ms", screen->Command2},
        {"sort_year_asc_ms", screen->Command3},
        {"reset_number_asc_ms", screen->Command5},
    };
    for (const Action &a : actions) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i)
            times.push_back(timedClick(screen, a.button));
        print(a.name, median(times));
        if (a.button == screen->Command14)
            print("search_hits", screen->Data1->recordset()->recordCount());
    }

    // Scrolling through the whole list a page at a time: every row is read
    // once, and the memory stays bounded by the record set's block cache.
    QScrollBar *bar = screen->fg->verticalScrollBar();
    QElapsedTimer t;
    t.start();
    int pages = 0;
    for (int v = 0; v <= bar->maximum(); v += std::max(1, bar->pageStep()), ++pages) {
        bar->setValue(v);
        screen->fg->viewport()->grab();
    }
    print("scroll_pages", pages);
    print("scroll_page_ms", pages ? t.nsecsElapsed() / 1e6 / pages : 0);
    print("rss_after_scroll_mb", statusMB("VmRSS"));
    print("rss_peak_mb", statusMB("VmHWM"));
    print("messages", messages);
    closeList(screen);

    // Where the time goes: each record source the screen opens, through a
    // bare data control (opening a record set reads the rowids of its rows
    // in order; cells are read later, only for the rows painted).
    common::DataControl data;
    Module1::computeDatabasePath();
    data.setDatabaseName(Module1::databasePath());
    refreshMs(data, QStringLiteral("tabel")); // opens the connection
    const std::pair<const char *, QString> sources[] = {
        {"store_tabel_ms", QStringLiteral("tabel")},
        {"store_number_asc_ms", QStringLiteral("select * from tabel order by 蔵書番号 asc;")},
        {"store_search_title_no_ms", QStringLiteral("select * from tabel where 書名 like '*の*';")},
        {"store_number_desc_ms", QStringLiteral("select * from tabel order by 蔵書番号 desc;")},
        {"store_year_desc_ms", QStringLiteral("select * from tabel order by 出版年 desc;")},
        {"store_year_asc_ms", QStringLiteral("select * from tabel order by 出版年 asc;")},
    };
    for (const auto &[name, source] : sources) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i)
            times.push_back(refreshMs(data, source));
        print(name, median(times));
    }
    return 0;
}
