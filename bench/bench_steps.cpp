// Times what a user waits for on the three data screens, each step beside its
// floor: SQLite in this process doing the least that the visible result
// needs (see floor.h). See BENCHMARKS.md and run_steps.sh.
//
// Usage: bench_steps APPDIR GROUP [RUNS]
//   APPDIR holds the collection as BR.mdb; it is changed (books are saved,
//   corrected and deleted), so give it a copy. GROUP is one of
//     list          open, the nine field searches, the three sorts, the
//                   reset, the export (up to 65,536 books), memory
//     registration  open and save (which looks for the same book first)
//     edit          open, correction, delete right after opening
//   Each group runs in a process of its own, so that its first open is the
//   first in the process. RUNS (default 5) iterations of each step.
//
// Output, one figure a line:
//   step NAME MS FLOOR_MS RATIO CPU_MS FLOOR_CPU_MS CPU_RATIO   (medians)
//   info NAME VALUE

#include "app/fonts.h"
#include "app/navigation.h"
#include "floor.h"
#include "measure.h"
#include "screens/common/datacontrol.h"
#include "screens/common/messages.h"
#include "screens/edit/editscreen.h"
#include "screens/list/grid.h"
#include "screens/list/listscreen.h"
#include "screens/menu/startmenu.h"
#include "screens/record_panel/recordpanel.h"
#include "screens/registration/registrationscreen.h"
#include "store/booktable.h"
#include "store/module1.h"
#include "store/recordset.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include <cstdio>
#include <filesystem>
#include <memory>

using namespace bench;

namespace {

int g_runs = 5;
std::string g_dbPath;

template <typename T> T *shown()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *s = qobject_cast<T *>(w); s && s->isVisible())
            return s;
    }
    return nullptr;
}

// What follows a click before the user sees its result: pending events,
// windows closed by it destroyed, and the window painted.
void settle(QWidget *painted)
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (painted)
        painted->grab();
}

// Opens a screen as the start menu's "OK" does, until it is painted.
template <typename T> T *openScreen(void (screens::StartMenu::*request)(), app::Navigator &nav)
{
    emit(nav.menu().*request)();
    T *s = shown<T>();
    if (!s) {
        std::fprintf(stderr, "the screen did not open\n");
        std::exit(1);
    }
    settle(s);
    return s;
}

void leave(screens::DataScreen *s)
{
    s->unload();
    settle(nullptr);
}

// The floor of opening any data screen: the file opened and its schema read.
Sample floorOpen()
{
    return timed([] { Floor f(g_dbPath); });
}

int visibleRows(screens::ListScreen *s)
{
    const int last = s->fg->rowAt(s->fg->viewport()->height() - 1);
    return last < 0 ? s->fg->model()->rowCount() : last + 1;
}

void fillPanel(screens::RecordPanel *p, int i)
{
    // A title of its own in every process: a book saved by an earlier run
    // would be the same book, and the save would ask about it.
    p->TitleBox->setText(QStringLiteral("計測の本 %1-%2").arg(QCoreApplication::applicationPid()).arg(i));
    p->Text8->setText(QStringLiteral("計測 太郎"));
    p->Text9->setText(QStringLiteral("計測社"));
    p->Text3->setText(QStringLiteral("2024"));
    p->Combo1->setEditText(QStringLiteral("9 文学"));
    p->Text6->setText(QString::number(2000000 + i));
    p->Text2->setText(QStringLiteral("計測"));
    p->Text1->setText(QStringLiteral("書斎"));
    p->Command3->click(); // 貸出し可能
}

// ---------------------------------------------------------------- list

struct Search {
    const char *name;
    QPushButton *screens::ListScreen::*button;
    const char *field;
    const char *keyword;
};

void listGroup(app::Navigator &nav)
{
    info("rss_before_open_mb", statusMB("VmRSS"));
    int visible = 0;
    // The first open in the process, then its floor, also the first.
    {
        Series first;
        screens::ListScreen *s = nullptr;
        resetPeak();
        const Sample step =
            timed([&] { s = openScreen<screens::ListScreen>(&screens::StartMenu::listRequested, nav); });
        // The peak of the opening alone, before the floor reads rowids of its own.
        const double openPeak = statusMB("VmHWM");
        handBackFreed();
        visible = visibleRows(s);
        const Sample floor = timed([&] {
            Floor f(g_dbPath);
            f.count();
            f.readRows(f.rowids(orderedRowidsSql("蔵書番号", false)), visible);
        });
        first.add(step, floor);
        first.print("list_open_first");
        info("books", s->bookCount);
        info("visible_rows", visible);
        info("rss_open_mb", statusMB("VmRSS"));
        info("rss_peak_open_mb", openPeak);
        leave(s);
    }

    // Open: the count, the rowids in the shown order, the visible rows.
    Series open;
    screens::ListScreen *s = nullptr;
    for (int i = 0; i < g_runs; ++i) {
        if (s)
            leave(s);
        const Sample step =
            timed([&] { s = openScreen<screens::ListScreen>(&screens::StartMenu::listRequested, nav); });
        const Sample floor = timed([&] {
            Floor f(g_dbPath);
            f.count();
            f.readRows(f.rowids(orderedRowidsSql("蔵書番号", false)), visible);
        });
        open.add(step, floor);
    }
    open.print("list_open");
    info("rss_list_open_mb", statusMB("VmRSS"));

    Floor floor(g_dbPath);
    // The highest peak of the searches and sorts themselves, floors apart.
    double searchSortPeak = 0;
    auto click = [&](QPushButton *b) {
        resetPeak();
        const Sample t = timed([&] {
            b->click();
            settle(s->fg);
        });
        searchSortPeak = std::max(searchSortPeak, statusMB("VmHWM"));
        handBackFreed(); // what the step freed, before the floor reads its own rowids
        return t;
    };

    // Field searches: the hits' rowids in the table's order (SQLite's own
    // LIKE) and the visible rows.
    const Search searches[] = {
        {"search_title", &screens::ListScreen::Command14, "書名", "の"},
        {"search_author", &screens::ListScreen::Command12, "著者名", "田"},
        {"search_publisher", &screens::ListScreen::Command13, "出版社", "出版"},
        {"search_year", &screens::ListScreen::Command6, "出版年", "19"},
        {"search_category", &screens::ListScreen::Command8, "分類", "文学"},
        {"search_number", &screens::ListScreen::Command10, "蔵書番号", "7"},
        {"search_keyword", &screens::ListScreen::Command7, "キーワード", "猫"},
        {"search_lending", &screens::ListScreen::Command9, "貸出", "中"},
        {"search_place", &screens::ListScreen::Command11, "保管場所", "棚"},
    };
    for (const Search &q : searches) {
        s->Text1->setText(QString::fromUtf8(q.keyword));
        const std::string pattern = std::string("%") + q.keyword + "%";
        Series series;
        for (int i = 0; i < g_runs; ++i) {
            const Sample step = click(s->*q.button);
            const Sample f = timed([&] { floor.readRows(floor.rowids(searchRowidsSql(q.field), pattern), visible); });
            series.add(step, f);
        }
        series.print(q.name);
        info(std::string(q.name) + "_hits", s->Data1->recordset()->recordCount());
    }

    // Sorts: the rowids in the new order and the visible rows.
    struct Sort {
        const char *name;
        QPushButton *button;
        const char *field;
        bool descending;
    };
    const Sort sorts[] = {
        {"sort_number_desc", s->Command15, "蔵書番号", true},
        {"sort_year_desc", s->Command2, "出版年", true},
        {"sort_year_asc", s->Command3, "出版年", false},
    };
    for (const Sort &o : sorts) {
        Series series;
        for (int i = 0; i < g_runs; ++i) {
            const Sample step = click(o.button);
            const Sample f =
                timed([&] { floor.readRows(floor.rowids(orderedRowidsSql(o.field, o.descending)), visible); });
            series.add(step, f);
        }
        series.print(o.name);
    }
    info("rss_peak_search_sort_mb", searchSortPeak);
    // The reset recounts the table too.
    {
        Series series;
        for (int i = 0; i < g_runs; ++i) {
            const Sample step = click(s->Command5);
            const Sample f = timed([&] {
                floor.count();
                floor.readRows(floor.rowids(orderedRowidsSql("蔵書番号", false)), visible);
            });
            series.add(step, f);
        }
        series.print("reset");
    }

    // The export of the list as shown (ascending number order after the
    // reset); its floor reads every field of every row in that order.
    if (s->bookCount <= 65536) {
        Series series;
        for (int i = 0; i < g_runs; ++i) {
            const Sample step = click(s->Command4);
            const Sample f = timed([&] { floor.readAll("SELECT * FROM tabel ORDER BY 蔵書番号 ASC, rowid"); });
            series.add(step, f);
        }
        series.print("export");
    }

    // Browsing: 200 jumps spread over the whole list, each painted. Every
    // jump reads a block of rows the list has not shown yet; memory must
    // stay bounded.
    {
        handBackFreed(); // the reset's floor
        QScrollBar *bar = s->fg->verticalScrollBar();
        const int jumps = 200;
        std::vector<double> ms;
        for (int j = 0; j <= jumps; ++j) {
            const int v = int(qint64(bar->maximum()) * j / jumps);
            ms.push_back(timed([&] {
                             bar->setValue(v);
                             s->fg->viewport()->grab();
                         }).wallMs);
        }
        info("browse_jump_ms", median(ms));
        info("rss_after_browse_mb", statusMB("VmRSS"));
    }
    info("rss_peak_mb", statusMB("VmHWM"));
    leave(s);

    // The store alone: one refresh of a bare data control and the visible
    // rows, for each record source, beside the same floors.
    screens::DataControl data;
    data.setDatabaseName(QString::fromStdString(g_dbPath));
    auto refresh = [&](const store::RecordSource &source) {
        return timed([&] {
            data.setRecordSource(source);
            data.refresh();
            for (int r = 0; r < visible; ++r)
                data.recordset()->row(r);
        });
    };
    refresh(store::RecordSource::wholeTable()); // opens the connection
    using store::Direction, store::Field, store::RecordSource;
    struct Source {
        const char *name;
        RecordSource source;
        std::string floorSql;
        std::string bound;
    };
    const Source sources[] = {
        {"store_number_asc",
         RecordSource::sorted(Field::Number, Direction::Ascending),
         orderedRowidsSql("蔵書番号", false),
         {}},
        {"store_search_title", RecordSource::search(Field::Title, QStringLiteral("*の*")), searchRowidsSql("書名"),
         "%の%"},
        {"store_search_year", RecordSource::search(Field::Year, QStringLiteral("*19*")), searchRowidsSql("出版年"),
         "%19%"},
        {"store_number_desc",
         RecordSource::sorted(Field::Number, Direction::Descending),
         orderedRowidsSql("蔵書番号", true),
         {}},
        {"store_year_desc",
         RecordSource::sorted(Field::Year, Direction::Descending),
         orderedRowidsSql("出版年", true),
         {}},
        {"store_year_asc",
         RecordSource::sorted(Field::Year, Direction::Ascending),
         orderedRowidsSql("出版年", false),
         {}},
    };
    for (const Source &src : sources) {
        Series series;
        for (int i = 0; i < g_runs; ++i) {
            const Sample step = refresh(src.source);
            const Sample f = timed([&] { floor.readRows(floor.rowids(src.floorSql, src.bound), visible); });
            series.add(step, f);
        }
        series.print(src.name);
    }
    // The table in its own order and its count, as the list's load takes it.
    {
        Series series;
        for (int i = 0; i < g_runs; ++i) {
            const Sample step = timed([&] {
                data.setRecordSource(store::RecordSource::wholeTable());
                data.refresh();
                data.recordset()->moveLast();
                data.recordset()->recordCount();
            });
            const Sample f = timed([&] { floor.count(); });
            series.add(step, f);
        }
        series.print("store_count");
    }
}

// ---------------------------------------------------------------- registration

void registrationGroup(app::Navigator &nav)
{
    // The floor writes to a copy of the collection: its writes, made
    // without the program's index of titles and authors, would leave that
    // index behind and have each save rebuild it. The copy has SQLite's own
    // index on the title and author, so that the floor looks a title up as
    // the save does, without reading every book.
    const std::string floorPath = g_dbPath + ".floor";
    std::filesystem::copy_file(g_dbPath, floorPath, std::filesystem::copy_options::overwrite_existing);
    Floor floor(floorPath);
    sqlite3_exec(floor.handle(), "CREATE INDEX IF NOT EXISTS floor_title ON tabel (書名, 著者名)", nullptr, nullptr,
                 nullptr);
    {
        Series first;
        screens::RegistrationScreen *s = nullptr;
        const Sample step = timed(
            [&] { s = openScreen<screens::RegistrationScreen>(&screens::StartMenu::registrationRequested, nav); });
        first.add(step, floorOpen());
        first.print("registration_open_first");
        // A first save, not timed: whatever a first change of the day does
        // is not part of every save.
        fillPanel(s->panel, 0);
        s->Command1->click();
        settle(&nav.menu());
    }
    // One save of book i on an open screen, beside the floor: the title
    // looked up by `lookUp`, then the INSERT.
    const auto saveBeside = [&](screens::RegistrationScreen *s, int i, const char *lookUp, Series &series) {
        fillPanel(s->panel, i);
        const Sample step = timed([&] {
            s->Command1->click();
            settle(&nav.menu());
        });
        const Sample f = timed([&] {
            (void)floor.rowids(lookUp, "計測の本");
            floor.insertBook("計測の本");
        });
        series.add(step, f);
        if (shown<screens::RegistrationScreen>()) {
            std::fprintf(stderr, "the save did not close the screen\n");
            std::exit(1);
        }
    };
    Series open, save;
    for (int i = 1; i <= g_runs; ++i) {
        screens::RegistrationScreen *s = nullptr;
        const Sample opened = timed(
            [&] { s = openScreen<screens::RegistrationScreen>(&screens::StartMenu::registrationRequested, nav); });
        open.add(opened, floorOpen());
        // The save looks for a book with the same title and author first:
        // at the least one look-up of the title in an index.
        saveBeside(s, i, "SELECT rowid FROM tabel WHERE 書名 = ?1", save);
    }
    open.print("registration_open");
    save.print("registration_save");

    // A save right after another program added a book: the index is
    // stale, and the save brings it up to date from every book. The floor
    // is one pass of SQLite over the table comparing the title, then the
    // INSERT.
    Series stale;
    for (int i = 1; i <= g_runs; ++i) {
        Floor(g_dbPath).insertBook("他のプログラムの本");
        saveBeside(openScreen<screens::RegistrationScreen>(&screens::StartMenu::registrationRequested, nav), g_runs + i,
                   "SELECT rowid FROM tabel NOT INDEXED WHERE 書名 = ?1", stale);
    }
    stale.print("registration_save_after_another");

    // The store alone: the connection opened, the table opened with a new
    // pending row, then the save (the write) and the table opened again, as
    // the screen's data control asks for them, without its widgets.
    Series storeOpen, storeSave;
    const QString path = QString::fromStdString(g_dbPath);
    for (int i = 0; i < g_runs; ++i) {
        std::shared_ptr<store::Connection> connection;
        std::unique_ptr<store::RecordSet> rs;
        // A fraction of a millisecond: each figure is the mean of 20 opens,
        // the floor's taken right before and after ours alike.
        constexpr int Repeat = 20;
        auto floorOpens = [&] {
            Sample sum;
            for (int k = 0; k < Repeat / 2; ++k) {
                const Sample f = floorOpen();
                sum.wallMs += f.wallMs / Repeat;
                sum.cpuMs += f.cpuMs / Repeat;
            }
            return sum;
        };
        Sample floorSample = floorOpens();
        const Sample step = timed([&] {
            for (int k = 0; k < Repeat; ++k) {
                rs.reset();
                connection = store::Connection::open(path);
                rs = std::make_unique<store::RecordSet>(connection, store::RecordSource::wholeTable());
                rs->addNew();
            }
        });
        const Sample after = floorOpens();
        floorSample.wallMs += after.wallMs;
        floorSample.cpuMs += after.cpuMs;
        storeOpen.add({step.wallMs / Repeat, step.cpuMs / Repeat}, floorSample);
        const Sample w = timed([&] {
            rs->update({{QStringLiteral("書名"), QStringLiteral("計測の本")}});
            rs = std::make_unique<store::RecordSet>(connection, store::RecordSource::wholeTable());
        });
        const Sample f = timed([&] { floor.insertBook("計測の本"); });
        storeSave.add(w, f);
    }
    storeOpen.print("store_registration_open");
    storeSave.print("store_registration_save");
    std::filesystem::remove(floorPath);
}

// ---------------------------------------------------------------- edit

void editGroup(app::Navigator &nav)
{
    Floor floor(g_dbPath);
    auto floorEditOpen = [] {
        return timed([] {
            Floor f(g_dbPath);
            f.count();
            f.firstRow();
        });
    };
    {
        Series first;
        screens::EditScreen *s = nullptr;
        const Sample step =
            timed([&] { s = openScreen<screens::EditScreen>(&screens::StartMenu::editRequested, nav); });
        first.add(step, floorEditOpen());
        first.print("edit_open_first");
        // A first correction, not timed (see the registration group).
        s->panel->TitleBox->setText(s->panel->TitleBox->text());
        s->Command2->click();
        settle(s);
        leave(s);
    }
    Series open, fix, del;
    for (int i = 0; i < g_runs; ++i) {
        screens::EditScreen *s = nullptr;
        const Sample opened =
            timed([&] { s = openScreen<screens::EditScreen>(&screens::StartMenu::editRequested, nav); });
        open.add(opened, floorEditOpen());
        s->panel->TitleBox->setText(QStringLiteral("修正した書名 %1").arg(i));
        const Sample step = timed([&] {
            s->Command2->click();
            settle(s);
        });
        const std::int64_t id = floor.firstRowid();
        fix.add(step, timed([&] { floor.updateTitle(id, "修正した書名"); }));
        leave(s);
    }
    open.print("edit_open");
    fix.print("edit_correct");
    // Opening again with nothing written in between: what the count costs
    // when the file has not changed since it was taken.
    {
        Series reopen;
        for (int i = 0; i < g_runs; ++i) {
            screens::EditScreen *s = nullptr;
            const Sample opened =
                timed([&] { s = openScreen<screens::EditScreen>(&screens::StartMenu::editRequested, nav); });
            reopen.add(opened, floorEditOpen());
            leave(s);
        }
        reopen.print("edit_reopen");
    }
    for (int i = 0; i < g_runs; ++i) {
        screens::EditScreen *s = openScreen<screens::EditScreen>(&screens::StartMenu::editRequested, nav);
        const Sample step = timed([&] {
            s->Command1->click();
            settle(s);
        });
        const std::int64_t id = floor.firstRowid();
        del.add(step, timed([&] { floor.deleteRow(id); }));
        leave(s);
    }
    del.print("edit_delete");

    // The store alone: the edit screen's load (the table opened, counted at
    // its last row, opened again on its first), and a deletion with the
    // reopening and the move to the last book that follow it.
    Series storeOpen, storeDelete;
    for (int i = 0; i < g_runs; ++i) {
        screens::DataControl data;
        int count = 0;
        const Sample step = timed([&] {
            data.setDatabaseName(QString::fromStdString(g_dbPath));
            data.setRecordSource(store::RecordSource::wholeTable());
            data.refresh();
            data.recordset()->moveLast();
            count = data.recordset()->recordCount();
            data.refresh();
            for (const QString &f : store::fieldNames())
                data.recordset()->fieldText(f);
        });
        storeOpen.add(step, floorEditOpen());
        const Sample d = timed([&] {
            data.recordset()->deleteCurrent();
            data.refresh();
            data.recordset()->moveLast();
            for (const QString &f : store::fieldNames())
                data.recordset()->fieldText(f);
        });
        const std::int64_t id = floor.firstRowid();
        storeDelete.add(d, timed([&] { floor.deleteRow(id); }));
        (void)count;
    }
    storeOpen.print("store_edit_open");
    storeDelete.print("store_edit_delete");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_steps APPDIR list|registration|edit [RUNS]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app::installFontSubstitutions();
    app.setQuitOnLastWindowClosed(false);
    store::setApplicationDirectory(QString::fromLocal8Bit(argv[1]));
    store::computeDatabasePath();
    g_dbPath = store::databasePath().toStdString();
    const std::string group = argv[2];
    g_runs = argc > 3 ? std::max(1, atoi(argv[3])) : 5;

    // No user: questions are answered Yes, notices OK; errors are counted.
    int errors = 0;
    screens::setMessageHandler([&errors](const screens::Message &m) {
        if (m.icon == QMessageBox::Critical || m.icon == QMessageBox::Warning)
            ++errors;
        return (m.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    app::Navigator navigator;

    if (group == "list")
        listGroup(navigator);
    else if (group == "registration")
        registrationGroup(navigator);
    else if (group == "edit")
        editGroup(navigator);
    else {
        std::fprintf(stderr, "unknown group %s\n", group.c_str());
        return 2;
    }
    info("errors", errors);
    return errors ? 1 : 0;
}
