// Long fields on the screens: a book whose title has N characters, on the
// edit screen and the list, and the same text pasted on the registration
// screen. Measures the time a user waits for each step and the processor
// time the program takes while nothing happens and a box holding the long
// field has the focus. See BENCHMARKS.md and run_longtext.sh.
//
// Usage: bench_longtext APPDIR CHARS
//   APPDIR receives a fresh BR.mdb with three books, the second titled with
//   CHARS characters. Output: one "name value" per line.

#include "app/fonts.h"
#include "app/navigation.h"
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

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <sqlite3.h>

namespace {

void print(const char *name, double value) { std::printf("%s %.1f\n", name, value); }

// Processor time of this process (user + system), in seconds.
double cpuSeconds()
{
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(')').value(1).simplified().split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / 100.0;
}

// Lets the event loop run for `ms` as a user leaving the window alone
// would, and returns the processor time taken meanwhile, in % of one core.
double idleCpuPercent(int ms)
{
    QElapsedTimer t;
    t.start();
    const double before = cpuSeconds();
    while (t.elapsed() < ms)
        QTest::qWait(50);
    return (cpuSeconds() - before) * 100000.0 / double(t.elapsed());
}

template <typename F> double timed(F &&f)
{
    QElapsedTimer t;
    t.start();
    f();
    QCoreApplication::processEvents();
    return t.nsecsElapsed() / 1e6;
}

template <typename T> T *shown()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *s = qobject_cast<T *>(w); s && s->isVisible())
            return s;
    }
    return nullptr;
}

void leave(QWidget *screen)
{
    static_cast<screens::Form *>(screen)->unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

bool makeCollection(const QString &path, const QString &title)
{
    QFile::remove(path);
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, store::createTableStatement().toUtf8().constData(), nullptr, nullptr, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tabel (蔵書番号, 書名, 著者名) VALUES (?1, ?2, '著者')", -1, &st, nullptr);
    const QByteArray titles[] = {"前の本", title.toUtf8(), "後の本"};
    for (int i = 0; i < 3; ++i) {
        sqlite3_bind_int(st, 1, i + 1);
        sqlite3_bind_text(st, 2, titles[i].constData(), int(titles[i].size()), SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return true;
}

// The floor: SQLite in-process reading the long title, nothing else.
double sqliteReadMs(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    QElapsedTimer t;
    t.start();
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "SELECT 書名 FROM tabel WHERE rowid = 2", -1, &st, nullptr);
    sqlite3_step(st);
    volatile int bytes = sqlite3_column_bytes(st, 0);
    (void)bytes;
    sqlite3_finalize(st);
    const double ms = t.nsecsElapsed() / 1e6;
    sqlite3_close(db);
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_longtext APPDIR CHARS\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app::installFontSubstitutions();
    app.setQuitOnLastWindowClosed(false);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int chars = atoi(argv[2]);
    const QString title = QStringLiteral("長い書名").repeated(chars / 4 + 1).left(chars);
    store::setApplicationDirectory(dir);
    if (!makeCollection(dir + QStringLiteral("/BR.mdb"), title)) {
        std::fprintf(stderr, "cannot make %s/BR.mdb\n", argv[1]);
        return 1;
    }
    int messages = 0;
    screens::setMessageHandler([&messages](const screens::Message &) {
        ++messages;
        return QMessageBox::Yes;
    });
    app::Navigator navigator;
    print("sqlite_read_ms", sqliteReadMs(dir + QStringLiteral("/BR.mdb")));

    // What Qt's line edit alone does with the text: the fault being mended
    // (past a million characters it takes minutes, so it is left out).
    if (chars <= 1000000) {
        QWidget window;
        window.resize(400, 60);
        QLineEdit plain(&window);
        plain.setMaxLength(std::numeric_limits<int>::max());
        plain.setGeometry(10, 10, 345, 25);
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        print("plain_lineedit_set_ms", timed([&] { plain.setText(title); }));
        plain.setFocus();
        print("plain_lineedit_idle_cpu_pct", idleCpuPercent(3000));
    }

    // The edit screen: open on the first book, step onto the long one, and
    // leave the title box alone with the focus.
    screens::EditScreen *edit = nullptr;
    const double open = timed([&] {
        emit navigator.menu().editRequested();
        edit = shown<screens::EditScreen>();
        if (edit)
            edit->grab();
    });
    if (!edit) {
        std::fprintf(stderr, "the edit screen did not open\n");
        return 1;
    }
    print("edit_open_ms", open);
    auto *next = edit->Data1->findChild<QToolButton *>(QStringLiteral("next"));
    print("edit_step_onto_long_ms", timed([&] {
              next->click();
              edit->grab();
          }));
    if (edit->panel->TitleBox->property("value").toString() != title)
        std::fprintf(stderr, "the title box does not hold the long title\n");
    edit->activateWindow();
    edit->panel->TitleBox->setFocus();
    print("edit_idle_cpu_pct", idleCpuPercent(3000));
    // Typing into another box while the long book is shown.
    print("edit_type_author_ms", timed([&] { QTest::keyClicks(edit->panel->Text8, QStringLiteral("abc")); }));
    print("edit_step_off_ms", timed([&] {
              next->click();
              edit->grab();
          }));
    leave(edit);

    // The registration screen: the long text pasted into the title box.
    emit navigator.menu().registrationRequested();
    auto *reg = shown<screens::RegistrationScreen>();
    QApplication::clipboard()->setText(title);
    reg->activateWindow();
    reg->panel->TitleBox->setFocus();
    print("register_paste_ms", timed([&] { QTest::keyClick(reg->panel->TitleBox, Qt::Key_V, Qt::ControlModifier); }));
    print("register_idle_cpu_pct", idleCpuPercent(3000));
    leave(reg);

    // The list: the long title in a cell, painted.
    emit navigator.menu().listRequested();
    auto *list = shown<screens::ListScreen>();
    print("list_paint_ms", timed([&] { list->fg->viewport()->grab(); }));
    print("list_idle_cpu_pct", idleCpuPercent(3000));
    leave(list);

    std::printf("messages %d\n", messages);
    return 0;
}
