#include "export/workbook.h"
#include "screens/common/datacontrol.h"
#include "screens/edit/editscreen.h"
#include "screens/list/booktablemodel.h"
#include "screens/list/grid.h"
#include "screens/list/listscreen.h"
#include "screens/menu/startmenu.h"
#include "screens/record_panel/recordpanel.h"
#include "screens/registration/registrationscreen.h"
#include "store/connection.h"
#include "store/error.h"
#include "store/module1.h"
#include "support/testsupport.h"

#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <unistd.h>

using namespace testsupport;
using namespace screens;

namespace {

// Books numbered 1 to n, titled "本<number>".
QList<Book> numbered(int n)
{
    QList<Book> books;
    for (int i = 1; i <= n; ++i) {
        const QByteArray no = QByteArray::number(i), title = "本" + no;
        books << book({no.constData(), title.constData(), "著者", "出版社", "2001", "9 文学", "棚", "可", "語"});
    }
    return books;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file and folder in the application directory, hidden ones too.
QStringList entries(const AppDir &dir)
{
    return QDir(dir.path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The words in Latin letters of a message, beyond the file's path and the
// names of the file's own things: a reason left in English shows here.
QStringList latinWords(QString text, const AppDir &dir)
{
    text.remove(dir.path());
    static const QRegularExpression names(QStringLiteral("BR\\.mdb|\\.xls|tabel|_?rowid_?|oid|GiB|BackSpace|Delete"));
    text.remove(names);
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{3,}"));
    QStringList out;
    for (auto m = word.globalMatch(text); m.hasNext();)
        out << m.next().captured();
    return out;
}

// A message box reporting a failure: critical, naming the file and the
// reason given, in Japanese.
void checkFailure(const screens::Message &m, const AppDir &dir, const QString &reason, const QString &path = QString())
{
    QCOMPARE(m.icon, QMessageBox::Critical);
    QVERIFY2(m.text.contains(path.isEmpty() ? dir.dbPath() : path) && m.text.contains(reason), qPrintable(m.text));
    QVERIFY2(latinWords(m.text, dir).isEmpty(), qPrintable(m.text));
}

// The cells of one grid row as the user sees them, and whether they are
// marked as unread.
QStringList shownRow(ListScreen *s, int row)
{
    QStringList cells;
    for (int c = 0; c < 2; ++c)
        cells << s->fg->model()->index(row, c).data().toString();
    return cells;
}
bool markedUnread(ListScreen *s, int row)
{
    const QVariant brush = s->fg->model()->index(row, 0).data(Qt::BackgroundRole);
    return brush.isValid() && brush.value<QBrush>().style() == Qt::BDiagPattern;
}
// Paints the grid at a row, as scrolling there does.
void scrollTo(ListScreen *s, int row)
{
    s->fg->scrollTo(s->fg->model()->index(row, 0), QAbstractItemView::PositionAtTop);
    s->fg->viewport()->repaint();
    settle();
}

void screenshot(QWidget *w, const char *name)
{
    if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS"))
        w->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + u'/' + QLatin1String(name)
                       + QStringLiteral(".png"));
}

void move(EditScreen *s, const char *button) { click(s->Data1, button); }
QString title(EditScreen *s) { return s->panel->TitleBox->text(); }

// A collection whose second book cannot be read: the first of the pages
// that hold its long title is damaged.
void damageSecondBook(const AppDir &dir, int books = 3)
{
    QList<Book> list = numbered(books);
    list[1][1] = QString(20000, u'x');
    dir.insert(list);
    dir.scramble(2 * dir.pageSize(), 16, 7);
}

} // namespace

// Nothing fails silently: a file another program holds locked, a damaged
// file, writes that would reach the wrong book or change what was typed,
// and fields too long for a text box. Each case is checked as the user
// sees it: messages, rows and boxes shown, the file untouched.
class TestFailures : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        closeScreens();
        store::BusyWait::setLimit(std::chrono::milliseconds(250));
    }

    // ---- A file locked by another program -------------------------------

    // Opening any data screen: one message naming the file and the cause,
    // the start menu back, the file untouched; once the lock is gone the
    // screen opens.
    void lockedWhileOpening_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::newRow("新規登録") << "新規登録";
        QTest::newRow("修正・削除") << "修正・削除";
        QTest::newRow("データ一覧") << "データ一覧";
    }
    void lockedWhileOpening()
    {
        QFETCH(QString, choice);
        AppDir dir;
        dir.insert(numbered(3));
        MessageScript messages;
        app::Navigator navigator;
        const QByteArray before = fileBytes(dir.dbPath());
        {
            FileLock lock(dir.dbPath());
            QVERIFY(!openFromMenu(navigator.menu(), choice));
            settle();
            QCOMPARE(messages.shown.size(), 1);
            checkFailure(messages.shown[0], dir, QStringLiteral("ファイルは他のプログラムが使用中です"));
            QVERIFY(navigator.menu().isVisible());
            QVERIFY(!QGuiApplication::overrideCursor());
        }
        QCOMPARE(fileBytes(dir.dbPath()), before);
        QVERIFY(openFromMenu(navigator.menu(), choice));
        QCOMPARE(messages.shown.size(), 1);
    }

    // While a screen waits for the lock, the start menu stays on view with
    // the wait cursor; when the lock goes within the wait, the screen opens
    // without a message.
    void waitCursorWhileWaiting()
    {
        store::BusyWait::setLimit(std::chrono::milliseconds(5000));
        AppDir dir;
        dir.insert(numbered(3));
        MessageScript messages;
        app::Navigator navigator;
        FileLock lock(dir.dbPath());
        // Looks at the windows on the GUI thread itself, which is busy
        // waiting, just after the program has been told of the wait.
        int cursor = -1;
        bool menuShown = false;
        const auto shown = store::BusyWait::observer();
        store::BusyWait::setObserver([&](bool waiting) {
            shown(waiting);
            if (waiting && cursor == -1) {
                const QCursor *c = QGuiApplication::overrideCursor();
                cursor = c ? int(c->shape()) : -2;
                menuShown = navigator.menu().isVisible();
            }
        });
        const auto restore = qScopeGuard([&] { store::BusyWait::setObserver(shown); });
        lock.releaseAfter(std::chrono::milliseconds(200));
        QVERIFY(openFromMenu<ListScreen>(navigator.menu()));
        QCOMPARE(cursor, int(Qt::WaitCursor));
        QVERIFY(menuShown);
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(!navigator.menu().isVisible());
        QVERIFY(messages.shown.isEmpty());
    }

    // Scrolling the list onto rows not read yet: they show empty and
    // hatched, one message tells why, repainting while the lock stays adds
    // none, and the first repaint after it is gone shows the real rows.
    void lockedWhileScrollingTheList()
    {
        Opened<ListScreen> o(numbered(600));
        ListScreen *s = o.screen;
        QCOMPARE(shownRow(s, 0), QStringList({"1", "本1"}));
        {
            FileLock lock(o.dir.dbPath());
            scrollTo(s, 500);
            QCOMPARE(shownRow(s, 500), QStringList({"", ""}));
            QVERIFY(markedUnread(s, 500));
            QVERIFY(!markedUnread(s, 0));
            screenshot(s, "list-locked");
            QCOMPARE(o.messages.shown.size(), 1);
            checkFailure(o.messages.shown[0], o.dir, QStringLiteral("ファイルは他のプログラムが使用中です"));
            QVERIFY(o.messages.shown[0].text.contains(QStringLiteral("データを読めません")));
            scrollTo(s, 520);
            scrollTo(s, 500);
            QCOMPARE(o.messages.shown.size(), 1);
            QVERIFY(s->isVisible());
        }
        scrollTo(s, 500);
        QCOMPARE(shownRow(s, 500), QStringList({"501", "本501"}));
        QVERIFY(!markedUnread(s, 500));
        QCOMPARE(o.messages.shown.size(), 1);
    }

    // A search while the file is locked: the message, the list before it
    // stays; the same search works once the lock is gone.
    void lockedWhileSearching()
    {
        Opened<ListScreen> o(numbered(30));
        ListScreen *s = o.screen;
        s->Text1->setText(QStringLiteral("本2"));
        {
            FileLock lock(o.dir.dbPath());
            click(s->Command14);
            settle();
            QCOMPARE(o.messages.shown.size(), 1);
            checkFailure(o.messages.shown[0], o.dir, QStringLiteral("ファイルは他のプログラムが使用中です"));
            QCOMPARE(s->fg->model()->rowCount(), 30);
            QCOMPARE(shownRow(s, 29), QStringList({"30", "本30"}));
        }
        click(s->Command14);
        QCOMPARE(s->fg->model()->rowCount(), 11);
        QCOMPARE(o.messages.shown.size(), 1);
    }

    // Stepping onto a book not read yet while the file is locked: the panel
    // is empty and says so, one message tells why; "修正" and "削除" refuse
    // to touch that book, even after the lock is gone, until the book has
    // been read; the book in the file is never overwritten.
    void lockedWhileStepping()
    {
        Opened<EditScreen> o(numbered(600));
        EditScreen *s = o.screen;
        const QList<Book> before = o.dir.rows();
        {
            FileLock lock(o.dir.dbPath());
            move(s, "last");
            settle();
            QCOMPARE(s->Data1->caption(), QStringLiteral("600"));
            QCOMPARE(title(s), QString());
            QCOMPARE(s->panel->TitleBox->placeholderText(), QStringLiteral("（読み込めませんでした）"));
            QCOMPARE(o.messages.shown.size(), 1);
            checkFailure(o.messages.shown[0], o.dir, QStringLiteral("ファイルは他のプログラムが使用中です"));
            screenshot(s, "edit-locked");
            move(s, "previous"); // another unread book: no second message for the same cause
            settle();
            QCOMPARE(o.messages.shown.size(), 1);
            move(s, "next");
            settle();
        }
        // The user marks the book lent out and stores it: refused, nothing asked.
        click(s->panel->Command4);
        click(s->Command2);
        QCOMPARE(o.messages.shown.size(), 2);
        checkFailure(o.messages.shown[1], o.dir, QStringLiteral("データを修正しません"));
        click(s->Command1);
        QCOMPARE(o.messages.shown.size(), 3);
        checkFailure(o.messages.shown[2], o.dir, QStringLiteral("データを削除しません"));
        QCOMPARE(o.dir.rows(), before);

        // Stepping away and back reads the book; now it can be corrected.
        move(s, "previous");
        move(s, "next");
        QCOMPARE(title(s), QStringLiteral("本600"));
        QCOMPARE(s->panel->TitleBox->placeholderText(), QString());
        click(s->panel->Command4);
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(o.messages.shown.size(), 4);
        QCOMPARE(o.messages.shown[3].title, QStringLiteral("データ修正"));
        QList<Book> expected = before;
        expected[599][7] = QStringLiteral("中");
        QCOMPARE(o.dir.rows(), expected);
    }

    // An export while the file is locked stops at the first row it cannot
    // read: the message says which and why, the earlier workbook stays as
    // it was, no other file is left; once the lock is gone it works.
    void lockedWhileExporting()
    {
        Opened<ListScreen> o(numbered(600));
        ListScreen *s = o.screen;
        const QString xls = exporting::exportPath();
        QFile earlier(xls);
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("an earlier workbook") > 0);
        earlier.close();
        const QStringList files = entries(o.dir);
        {
            FileLock lock(o.dir.dbPath());
            o.messages.answer(QMessageBox::Yes); // replace the earlier file
            click(s->Command4);
            settle();
        }
        QCOMPARE(o.messages.shown.size(), 2);
        checkFailure(o.messages.shown[1], o.dir, QStringLiteral("ファイルは他のプログラムが使用中です"));
        QVERIFY2(o.messages.shown[1].text.contains(QStringLiteral("257 件目")), qPrintable(o.messages.shown[1].text));
        QCOMPARE(fileBytes(xls), QByteArray("an earlier workbook"));
        QCOMPARE(entries(o.dir), files);
        QVERIFY(s->isVisible());

        o.messages.answer(QMessageBox::Yes);
        click(s->Command4);
        QCOMPARE(o.messages.shown.size(), 3);
        QVERIFY(fileBytes(xls).startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
    }

    // ---- A damaged file ---------------------------------------------------

    // A file that cannot be opened as a collection: the reason, the start
    // menu back, the file as it was.
    void damagedFileWhileOpening_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("truncated") << "truncated"
                                   << "ファイルが壊れています";
        QTest::newRow("random bytes in the table's pages") << "scrambled"
                                                           << "ファイルが壊れています";
        QTest::newRow("zero length") << "empty"
                                     << "ファイルが空です";
        QTest::newRow("a folder") << "folder"
                                  << "ファイルではなくフォルダーです";
        QTest::newRow("a device") << "device"
                                  << "通常のファイルではありません";
    }
    void damagedFileWhileOpening()
    {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        AppDir dir;
        QList<Book> books = numbered(2000);
        dir.insert(books);
        const int page = dir.pageSize();
        if (damage == QLatin1String("truncated")) {
            dir.truncateFile(3 * page);
        } else if (damage == QLatin1String("scrambled")) {
            dir.scramble(2 * page, page, 3); // the table's first page
        } else {
            QFile::remove(dir.dbPath());
            if (damage == QLatin1String("empty"))
                QVERIFY(QFile(dir.dbPath()).open(QIODevice::WriteOnly));
            else if (damage == QLatin1String("folder"))
                QVERIFY(QDir().mkdir(dir.dbPath()));
            else
                QVERIFY(QFile::link(QStringLiteral("/dev/null"), dir.dbPath()));
        }
        const QByteArray before = fileBytes(dir.dbPath());
        MessageScript messages;
        app::Navigator navigator;
        for (const QString &choice : {QStringLiteral("修正・削除"), QStringLiteral("データ一覧")}) {
            QVERIFY(!openFromMenu(navigator.menu(), choice));
            settle();
            QVERIFY(navigator.menu().isVisible());
        }
        QCOMPARE(messages.shown.size(), 2);
        for (const screens::Message &m : messages.shown)
            checkFailure(m, dir, reason);
        QCOMPARE(fileBytes(dir.dbPath()), before);
    }

    // One damaged book: the list shows every other book and marks that one,
    // with one message; the export stops at it and writes nothing; on the
    // edit screen its panel is empty and marked, and it cannot be written.
    void oneDamagedBook()
    {
        Opened<ListScreen> o;
        damageSecondBook(o.dir);
        ListScreen *s = o.screen;
        click(s->Command5); // the reset reads the collection again
        s->fg->viewport()->repaint();
        settle();
        QCOMPARE(shownRow(s, 0), QStringList({"1", "本1"}));
        QCOMPARE(shownRow(s, 1), QStringList({"", ""}));
        QVERIFY(markedUnread(s, 1));
        QCOMPARE(shownRow(s, 2), QStringList({"3", "本3"}));
        QCOMPARE(o.messages.shown.size(), 1);
        checkFailure(o.messages.shown[0], o.dir, QStringLiteral("ファイルが壊れています"));
        QVERIFY(s->fg->model()->index(1, 0).data(Qt::ToolTipRole).toString().contains(QStringLiteral("壊れています")));

        click(s->Command4);
        settle();
        QCOMPARE(o.messages.shown.size(), 2);
        checkFailure(o.messages.shown[1], o.dir, QStringLiteral("ファイルが壊れています"));
        QVERIFY(o.messages.shown[1].text.contains(QStringLiteral("2 件目")));
        QVERIFY(!QFile::exists(exporting::exportPath()));
        QCOMPARE(entries(o.dir), QStringList({"BR.mdb"}));

        click(s->Command1);
        settle();
        const QList<Book> before = o.dir.rows(QStringLiteral("蔵書番号 <> 2"));
        auto *edit = openFromMenu<EditScreen>(o.menu);
        QVERIFY(edit);
        move(edit, "next");
        settle();
        QCOMPARE(title(edit), QString());
        QCOMPARE(edit->panel->TitleBox->placeholderText(), QStringLiteral("（読み込めませんでした）"));
        QCOMPARE(o.messages.shown.size(), 3);
        checkFailure(o.messages.shown[2], o.dir, QStringLiteral("ファイルが壊れています"));
        click(edit->Command2);
        QCOMPARE(o.messages.shown.size(), 4);
        QVERIFY(o.messages.shown[3].text.contains(QStringLiteral("データを修正しません")));
        move(edit, "next");
        QCOMPARE(title(edit), QStringLiteral("本3"));
        QCOMPARE(o.dir.rows(QStringLiteral("蔵書番号 <> 2")), before);
    }

    // A read-only file lists as usual; a new book is refused with the
    // reason and kept on screen.
    void readOnlyFile()
    {
        if (geteuid() == 0)
            QSKIP("root may write any file: the store's own test covers this case as another user");
        Opened<RegistrationScreen> o;
        QVERIFY(QFile::setPermissions(o.dir.dbPath(), QFile::ReadOwner));
        typeText(o.screen->panel->TitleBox, QStringLiteral("本"));
        click(o.screen->Command1);
        QCOMPARE(o.messages.shown.size(), 1);
        checkFailure(o.messages.shown[0], o.dir, QStringLiteral("書き込む許可がありません"));
        QCOMPARE(o.screen->panel->TitleBox->text(), QStringLiteral("本"));
        QFile::setPermissions(o.dir.dbPath(), QFile::ReadOwner | QFile::WriteOwner);
    }

    // ---- Writes reach exactly what was meant ---------------------------

    // A table with a field of its own named "rowid", holding one value for
    // every book: "削除" removes the one book shown, "修正" changes only it.
    void rowidFieldOfTheTableOwn()
    {
        AppDir dir;
        dir.exec(QStringLiteral(
            "DROP TABLE tabel; CREATE TABLE tabel (蔵書番号 INTEGER, 書名 TEXT, 著者名 TEXT, "
            "出版社 TEXT, 出版年 INTEGER, 分類 TEXT, 保管場所 TEXT, 貸出 TEXT, キーワード TEXT, rowid INTEGER)"));
        dir.insert(numbered(4));
        dir.exec(QStringLiteral("UPDATE tabel SET rowid = 2"));
        MessageScript messages;
        app::Navigator navigator;
        auto *s = openFromMenu<EditScreen>(navigator.menu());
        QVERIFY(s);
        move(s, "next");
        move(s, "next"); // 本3
        s->panel->TitleBox->setText(QStringLiteral("三"));
        messages.answer(QMessageBox::Yes);
        click(s->Command2);
        move(s, "first");
        messages.answer(QMessageBox::Yes);
        click(s->Command1);
        QStringList titles;
        for (const Book &b : dir.rows())
            titles << *b[1];
        QCOMPARE(titles, QStringList({"本2", "三", "本4"}));
        QCOMPARE(messages.shown.size(), 2);
    }

    // A number the field cannot hold exactly is refused with a message
    // naming it, and stays typed; ordinary forms of a number become that
    // number.
    void numbersAreKeptExactly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // "" when refused
        QTest::newRow("2^63") << "9223372036854775808"
                              << "";
        QTest::newRow("1e400") << "1e400"
                               << "";
        QTest::newRow("20 digits") << "12.345678901234567890"
                                   << "";
        QTest::newRow("007") << "007"
                             << "7";
        QTest::newRow("+5") << "+5"
                            << "5";
        QTest::newRow("1.0") << "1.0"
                             << "1";
        QTest::newRow("largest") << "9223372036854775807"
                                 << "9223372036854775807";
    }
    void numbersAreKeptExactly()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        Opened<RegistrationScreen> o;
        typeText(o.screen->panel->TitleBox, QStringLiteral("本"));
        typeText(o.screen->panel->Text6, typed);
        click(o.screen->Command1);
        settle();
        if (stored.isEmpty()) {
            QCOMPARE(o.messages.shown.size(), 1);
            checkFailure(o.messages.shown[0], o.dir,
                         QStringLiteral("「%1」は項目「蔵書番号」に正確に入れられない数値です").arg(typed));
            QCOMPARE(o.screen->panel->Text6->text(), typed);
            QVERIFY(o.screen->isVisible());
            QCOMPARE(o.dir.count(), 0);
        } else {
            QVERIFY(o.messages.shown.isEmpty());
            QCOMPARE(*o.dir.rows()[0][0], stored);
            // A correction on the edit screen is held to the same rule.
            auto *edit = openFromMenu<EditScreen>(o.menu);
            QCOMPARE(edit->panel->Text6->text(), stored);
            edit->panel->Text3->setText(QStringLiteral("1e400"));
            o.messages.answer(QMessageBox::Yes);
            click(edit->Command2);
            QCOMPARE(o.messages.shown.size(), 2);
            checkFailure(o.messages.shown[1], o.dir,
                         QStringLiteral("「1e400」は項目「出版年」に正確に入れられない数値です"));
            QCOMPARE(edit->panel->Text3->text(), QStringLiteral("1e400"));
            QCOMPARE(o.dir.rows()[0][4], std::nullopt);
        }
    }

    // Text reaches the file exactly as typed and comes back the same on
    // the edit screen.
    void textIsKeptExactly()
    {
        Opened<RegistrationScreen> o;
        const QString tricky = QString(QChar(0xFEFF)) + QStringLiteral("題") + QChar(0xFFFE) + QChar(0xFFFF);
        const QString lone = QStringLiteral("x") + QChar(0xD800) + u'y' + QChar(0xDC00) + u'z';
        typeText(o.screen->panel->TitleBox, tricky);
        typeText(o.screen->panel->Text8, lone);
        click(o.screen->Command1);
        settle();
        QVERIFY(o.messages.shown.isEmpty());
        QCOMPARE(o.dir.rows(),
                 QList<Book>({Book({std::nullopt, tricky, QStringLiteral("x\uFFFDy\uFFFDz"), std::nullopt, std::nullopt,
                                    std::nullopt, std::nullopt, std::nullopt, std::nullopt})}));
        auto *edit = openFromMenu<EditScreen>(o.menu);
        QCOMPARE(title(edit), tricky);
    }

    // An application directory whose name is not valid UTF-8 is refused,
    // named as well as it can be, instead of looking for files at the root.
    void applicationDirectoryWithoutAName()
    {
        try {
            store::directoryOf(QByteArray("/opt/\xff\xfe\xe6\x9c\xac/bukurea"));
            QFAIL("named");
        } catch (const store::Error &e) {
            QVERIFY2(e.message().contains(QStringLiteral("アプリケーションのフォルダーの名前を読めません"))
                         && e.message().contains(QStringLiteral("/opt/")),
                     qPrintable(e.message()));
        }
        QCOMPARE(store::directoryOf(QByteArray("/opt/本 棚/bukurea")), QStringLiteral("/opt/本 棚"));
        QCOMPARE(store::directoryOf(QByteArray("/bukurea")), QStringLiteral("/"));
    }

    // ---- Long fields ----------------------------------------------------

    // A title of a million characters: the box shows its beginning,
    // read-only, says why; a correction of another field writes the title
    // back whole; Delete empties it. The list shows its beginning and
    // copies it whole.
    void millionCharacterField()
    {
        const QString longTitle = QStringLiteral("長い").repeated(500000);
        QList<Book> books = numbered(2);
        books[1][1] = longTitle;
        Opened<EditScreen> o(books);
        EditScreen *s = o.screen;
        move(s, "next");
        auto *box = static_cast<screens::TextBox *>(s->panel->TitleBox);
        QVERIFY(box->isReadOnly());
        QVERIFY(box->text().size() < 1000);
        QVERIFY(longTitle.startsWith(box->text().chopped(1)));
        QVERIFY(box->toolTip().contains(QStringLiteral("1,000,000 文字")));
        screenshot(s, "edit-long-title");
        s->panel->Text8->setText(QStringLiteral("別の著者"));
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(*o.dir.rows()[1][1], longTitle);
        QCOMPARE(*o.dir.rows()[1][2], QStringLiteral("別の著者"));

        QTest::keyClick(box, Qt::Key_Delete);
        QVERIFY(!box->isReadOnly());
        QCOMPARE(box->text(), QString());
        typeText(box, QStringLiteral("短い書名"));
        o.messages.answer(QMessageBox::Yes);
        click(s->Command2);
        QCOMPARE(*o.dir.rows()[1][1], QStringLiteral("短い書名"));

        o.dir.exec(QStringLiteral("UPDATE tabel SET 書名 = '%1' WHERE 蔵書番号 = 2").arg(longTitle));
        click(s->cmdrep);
        settle();
        auto *list = qobject_cast<ListScreen *>(visibleWindow(QStringLiteral("db")));
        QVERIFY(list);
        const QString cell = list->fg->model()->index(1, 1).data().toString();
        QVERIFY(cell.size() <= BookTableModel::DisplayLength + 1 && longTitle.startsWith(cell.chopped(1)));
        list->fg->setCurrentIndex(list->fg->model()->index(1, 1));
        QCOMPARE(list->fg->selectedText(), longTitle);
    }

    // Text pasted past the limit is kept whole and stored whole.
    void longPasteIsKeptWhole()
    {
        Opened<RegistrationScreen> o;
        const QString pasted = QString(40000, u'本');
        QApplication::clipboard()->setText(pasted);
        o.screen->panel->TitleBox->setFocus();
        QTest::keyClick(o.screen->panel->TitleBox, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(o.screen->panel->TitleBox->isReadOnly());
        click(o.screen->Command1);
        settle();
        QCOMPARE(*o.dir.rows()[0][1], pasted);
    }
};

QTEST_MAIN(TestFailures)
#include "test_failures.moc"
