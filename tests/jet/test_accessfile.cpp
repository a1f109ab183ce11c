#include "jettest.h"

#include "screens/list/grid.h"
#include "screens/list/listscreen.h"
#include "store/accessconversion.h"
#include "support/testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace testsupport;

namespace {

// The question a user sees when a screen is chosen on an Access collection.
screens::Message question()
{
    return {nullptr,
            QMessageBox::Question,
            QStringLiteral("ブクレア"),
            QStringLiteral("データベース ファイル「BR.mdb」は古い Access 形式です。\r\n"
                           "現在の形式に変換してから開きます。\r\n"
                           "元のファイルは変更せずに、\r\n"
                           "同じフォルダーに「BR.mdb.access」という名前で残します。\r\n\r\n"
                           "変換しますか？"),
            QMessageBox::Yes | QMessageBox::No,
            QMessageBox::Yes};
}

// An application directory whose BR.mdb is a copy of an Access file.
struct OldCollection {
    AppDir dir;
    MessageScript messages;
    app::Navigator navigator;
    QByteArray original;
    explicit OldCollection(const QString &fixture) : original(jettest::readFile(jettest::fixture(fixture)))
    {
        QFile::remove(dir.dbPath());
        jettest::writeFile(dir.dbPath(), original);
    }
    QStringList files() const { return jettest::entries(dir.path()); }
};

// Counts the widgets built while it lives (each sends itself a Create event
// from its constructor), and how many there were when a question was asked.
class WidgetsBuilt : public QObject {
public:
    WidgetsBuilt() { qApp->installEventFilter(this); }
    int count = 0;
    QList<int> atQuestions;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Create && watched->isWidgetType())
            ++count;
        return false;
    }
};

QStringList column(screens::ListScreen *screen, int c)
{
    QStringList out;
    for (int row = 0; row < screen->fg->model()->rowCount(); ++row)
        out << screen->fg->model()->index(row, c).data().toString();
    return out;
}

} // namespace

// A user's collection in the older Access format, met by choosing a data
// screen: the question, the conversion on Yes, nothing on No, and the
// message when the file cannot be converted.
class TestAccessFile : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        closeScreens();
        store::setDefaultReader(QString());
    }

    // Yes: the list opens on the 20 converted books, a search for 𠮷 finds
    // its book, and the original lies beside under the name the question gave.
    void yesOpensTheConvertedList()
    {
        OldCollection c(QStringLiteral("jet4_tabel.mdb"));
        auto *list = openFromMenu<screens::ListScreen>(c.navigator.menu());
        QVERIFY(list);
        QCOMPARE(c.messages.shown.size(), 1);
        QCOMPARE(describe(c.messages.shown[0]), describe(question()));
        QCOMPARE(list->windowTitle(), QStringLiteral("ブクレア　【一覧表示】   全 20 件 "));

        typeText(list->Text1, QStringLiteral("𠮷"));
        click(list, "Command14");
        QCOMPARE(column(list, 1), QStringList{"𠮷野家の歴史"});
        QCOMPARE(c.messages.shown.size(), 1);
        QCOMPARE(jettest::readFile(c.dir.path() + "/BR.mdb.access"), c.original);
        QCOMPARE(c.files(), (QStringList{"BR.mdb", "BR.mdb.access", "backup"}));
        // The day's backup was made before the conversion: the old file as it was.
        const QStringList backups = jettest::entries(c.dir.path() + "/backup");
        QCOMPARE(backups.size(), 1);
        QCOMPARE(jettest::readFile(c.dir.path() + "/backup/" + backups[0]), c.original);
    }

    // Numbers the old file declared as text stay text and sort as text.
    void textNumbersSortAsText()
    {
        OldCollection c(QStringLiteral("jet4_text_numbers.mdb"));
        auto *list = openFromMenu<screens::ListScreen>(c.navigator.menu());
        QVERIFY(list);
        QCOMPARE(column(list, 0), (QStringList{"", "0012", "100", "12", "9", "A-3", "１２"}));
        click(list, "Command3"); // 出版年, ascending
        QCOMPARE(column(list, 4), (QStringList{"", "", "1985", "1999", "2010", "昭和60", "２００１"}));
    }

    // No: back to the start menu, nothing written.
    void noChangesNothing()
    {
        OldCollection c(QStringLiteral("jet4_tabel.mdb"));
        c.messages.answer(QMessageBox::No);
        QVERIFY(!openFromMenu<screens::ListScreen>(c.navigator.menu()));
        QCOMPARE(c.messages.shown.size(), 1);
        QVERIFY(c.navigator.menu().isVisible());
        QCOMPARE(jettest::readFile(c.dir.dbPath()), c.original);
        QCOMPARE(c.files(), QStringList{"BR.mdb"});
    }

    // Whichever screen is chosen, the file is looked at before any window
    // is built: the question comes first, and on No nothing is built at
    // all. On Yes the screen chosen opens on the converted books.
    void questionBeforeAnyScreen_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<bool>("yes");
        for (const char *name : {"Main", "Main2", "db"}) {
            QTest::addRow("%s, Yes", name) << QString::fromLatin1(name) << true;
            QTest::addRow("%s, No", name) << QString::fromLatin1(name) << false;
        }
    }
    void questionBeforeAnyScreen()
    {
        QFETCH(QString, screen);
        QFETCH(bool, yes);
        OldCollection c(QStringLiteral("jet4_tabel.mdb"));
        WidgetsBuilt built;
        screens::setMessageHandler([&](const screens::Message &m) {
            c.messages.shown << m;
            built.atQuestions << built.count;
            return yes ? QMessageBox::Yes : QMessageBox::No;
        });
        QWidget *opened = openFromMenu(c.navigator.menu(), menuChoiceFor(qPrintable(screen)));
        QCOMPARE(built.atQuestions, QList<int>{0});
        QCOMPARE(describe(c.messages.shown[0]), describe(question()));
        QCOMPARE(opened != nullptr, yes);
        QCOMPARE(c.navigator.menu().isVisible(), !yes);
        if (yes)
            QCOMPARE(opened->objectName(), screen);
        else
            QCOMPARE(built.count, 0);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no table tabel") << "jet4_types.mdb" << QString() << "蔵書の表がありません";
        QTest::newRow("the reader crashes") << "jet4_tabel.mdb"
                                            << "kill -SEGV $$"
                                            << "読み取りプログラム bukurea-jet が異常終了しました";
    }
    // A file that cannot be converted: a message naming it and why, the
    // start menu back, the file as it was and nothing beside it but the
    // day's backup made before the attempt.
    void failures()
    {
        QFETCH(QString, fixture);
        QFETCH(QString, script);
        QFETCH(QString, reason);
        OldCollection c(fixture);
        if (!script.isEmpty())
            store::setDefaultReader(QStringLiteral("/bin/sh"),
                                    {QStringLiteral("-c"), script, QStringLiteral("reader")});
        // The progress window is gone before the failure is told.
        bool progressUnderMessage = false;
        screens::setMessageHandler([&](const screens::Message &m) {
            c.messages.shown << m;
            progressUnderMessage |= visibleWindow(QStringLiteral("conversionProgress")) != nullptr;
            return m.defaultButton;
        });
        QVERIFY(!openFromMenu<screens::ListScreen>(c.navigator.menu()));
        QVERIFY(!progressUnderMessage);
        QCOMPARE(c.messages.shown.size(), 2);
        const screens::Message failed{
            nullptr,
            QMessageBox::Critical,
            QStringLiteral("ブクレア"),
            QStringLiteral("古い形式のデータベース ファイルを変換できませんでした。\n%1\n（%2）")
                .arg(c.dir.dbPath(), reason),
            QMessageBox::Ok,
            QMessageBox::Ok};
        QCOMPARE(describe(c.messages.shown[1]), describe(failed));
        QVERIFY(c.navigator.menu().isVisible());
        QCOMPARE(jettest::readFile(c.dir.dbPath()), c.original);
        QCOMPARE(c.files(), (QStringList{"BR.mdb", "backup"}));
        const QStringList backups = jettest::entries(c.dir.path() + "/backup");
        QCOMPARE(backups.size(), 1);
        QCOMPARE(jettest::readFile(c.dir.path() + "/backup/" + backups[0]), c.original);
    }

    // While a slow reader works, the progress window is up and the
    // application goes on handling its events (here a timer's).
    void staysResponsive()
    {
        OldCollection c(QStringLiteral("jet4_tabel.mdb"));
        store::setDefaultReader(QStringLiteral("/bin/sh"),
                                {QStringLiteral("-c"),
                                 jettest::program(QStringLiteral("bukurea-jet"))
                                     + QStringLiteral(" \"$1\" | { head -c 3000; sleep 1; cat; }"),
                                 QStringLiteral("reader")});
        int ticks = 0;
        QString shownPath;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] {
            ++ticks;
            if (QWidget *w = visibleWindow(QStringLiteral("conversionProgress")))
                shownPath = child<QLabel>(w, "path")->text();
        });
        timer.start(20);
        auto *list = openFromMenu<screens::ListScreen>(c.navigator.menu());
        timer.stop();
        QVERIFY(list);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QCOMPARE(shownPath, c.dir.dbPath());
        QCOMPARE(liveWindows(QStringLiteral("conversionProgress")), 0);
    }

    // キャンセル in the progress window stops a reader that keeps sending
    // slowly: no message, the start menu back, BR.mdb as it was.
    void cancelStopsTheReader_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("the キャンセル button") << false;
        QTest::newRow("Esc") << true;
    }
    void cancelStopsTheReader()
    {
        QFETCH(bool, escape);
        OldCollection c(QStringLiteral("jet4_tabel.mdb"));
        store::setDefaultReader(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             jettest::program(QStringLiteral("bukurea-jet"))
                 + QStringLiteral(" \"$1\" | while dd bs=1 count=1 2>/dev/null; do sleep 0.05; done"),
             QStringLiteral("reader")});
        QString said;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] {
            if (QWidget *w = visibleWindow(QStringLiteral("conversionProgress"))) {
                said = child<QLabel>(w, "status")->text();
                if (escape)
                    QTest::keyClick(w, Qt::Key_Escape);
                else
                    QTest::mouseClick(child<QPushButton>(w, "cancel"), Qt::LeftButton);
            }
        });
        timer.start(300);
        QVERIFY(!openFromMenu<screens::ListScreen>(c.navigator.menu()));
        timer.stop();
        QCOMPARE(said, QStringLiteral("変換しています…"));
        QCOMPARE(c.messages.shown.size(), 1);
        QVERIFY(c.navigator.menu().isVisible());
        QCOMPARE(jettest::readFile(c.dir.dbPath()), c.original);
        QCOMPARE(c.files(), (QStringList{"BR.mdb", "backup"}));
        QCOMPARE(liveWindows(QStringLiteral("conversionProgress")), 0);
    }
};

QTEST_MAIN(TestAccessFile)
#include "test_accessfile.moc"
