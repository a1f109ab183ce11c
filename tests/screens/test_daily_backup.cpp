#include "screens/common/datacontrol.h"
#include "screens/edit/editscreen.h"
#include "screens/list/listscreen.h"
#include "screens/record_panel/recordpanel.h"
#include "screens/registration/registrationscreen.h"
#include "store/backup.h"
#include "support/testsupport.h"
#include "support/unavailable.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace testsupport;
using screens::EditScreen;
using screens::RecordPanel;
using screens::RegistrationScreen;

namespace {

QList<Book> shelf()
{
    QList<Book> books;
    for (int i = 1; i <= 5; ++i) {
        const QByteArray no = QByteArray::number(i), title = "本" + no;
        books << book({no.constData(), title.constData(), "著者", "出版社", "2001", "9 文学", "棚", "可", "語"});
    }
    return books;
}

// The three changes a user makes on the screens, each as the user makes it:
// a new book saved, a correction, a deletion. The screens' own questions
// ("よろしいですか？") are answered Yes.
class Change {
public:
    virtual ~Change() = default;
    virtual AppDir &dir() = 0;
    // The screen while it is open, else null.
    virtual QWidget *screen() = 0;
    virtual RecordPanel *panel() = 0;
    virtual void make(const QString &title) = 0;
};

// A change made on a screen of class T, opened on the shelf.
template <typename T> class OnScreen : public Change {
public:
    AppDir &dir() override { return o.dir; }
    QWidget *screen() override { return visibleWindow(windowName); }
    RecordPanel *panel() override { return o.screen->panel; }

protected:
    Opened<T> o{shelf()};
    // The window of T, by its object name.
    const QString windowName = o.screen->objectName();
};

// Saving closes the registration screen: each save opens it again.
class Save : public OnScreen<RegistrationScreen> {
public:
    void make(const QString &title) override
    {
        if (!screen())
            o.reopen();
        typeText(o.screen->panel->TitleBox, title);
        click(o.screen->Command1);
    }
};

class Correct : public OnScreen<EditScreen> {
public:
    void make(const QString &title) override
    {
        o.screen->panel->TitleBox->clear();
        typeText(o.screen->panel->TitleBox, title);
        click(o.screen->Command2);
    }
};

class Delete : public Correct {
public:
    void make(const QString &) override { click(o.screen->Command1); }
};

std::unique_ptr<Change> start(const QString &kind)
{
    if (kind == QLatin1String("save"))
        return std::make_unique<Save>();
    if (kind == QLatin1String("correct"))
        return std::make_unique<Correct>();
    return std::make_unique<Delete>();
}

// The screens' questions answered Yes; the question about a failed backup
// answered as given, with the rows of the file at the moment it was asked.
struct Answers {
    QMessageBox::StandardButton onBackupFailure = QMessageBox::No;
    QList<screens::Message> backupQuestions;
    QList<Book> rowsWhenAsked;
    explicit Answers(const AppDir &dir)
    {
        screens::setMessageHandler([this, &dir](const screens::Message &m) {
            if (m.title != QStringLiteral("ブクレア"))
                return QMessageBox::Yes;
            backupQuestions << m;
            rowsWhenAsked = dir.rows();
            return onBackupFailure;
        });
    }
};

QStringList backups(const AppDir &dir)
{
    return QDir(dir.path() + QStringLiteral("/backup")).entryList({QStringLiteral("BR-*.mdb")}, QDir::Files);
}

} // namespace

// The backup before the first change of a day, made from the screens: when
// one is made, what it holds, that reading makes none, and what the user is
// asked when it cannot be made.
class TestDailyBackup : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        store::Backups::setClock({});
        closeScreens();
    }

    void firstChangeOfADay_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("new book saved") << "save";
        QTest::newRow("correction") << "correct";
        QTest::newRow("deletion") << "delete";
    }
    void firstChangeOfADay()
    {
        QFETCH(QString, kind);
        QDateTime now(QDate(2024, 3, 1), QTime(9, 0, 0));
        store::Backups::setClock([&] { return now; });
        const auto change = start(kind);
        AppDir &dir = change->dir();
        Answers answers(dir);

        // The first change: exactly one backup, holding the books as they
        // were before it; the change itself is written.
        const QList<Book> before = dir.rows();
        change->make(QStringLiteral("一冊目"));
        QCOMPARE(backups(dir), QStringList{QStringLiteral("BR-20240301-090000.mdb")});
        QCOMPARE(rowsOf(dir.path() + QStringLiteral("/backup/BR-20240301-090000.mdb")), before);
        QVERIFY(dir.rows() != before);

        // Later that day: none.
        now = now.addSecs(3600);
        const QList<Book> afterFirst = dir.rows();
        change->make(QStringLiteral("二冊目"));
        QCOMPARE(backups(dir).size(), 1);
        QVERIFY(dir.rows() != afterFirst);

        // The next day: a new one, holding the books as they were then.
        now = QDateTime(QDate(2024, 3, 2), QTime(8, 30, 0));
        const QList<Book> nextMorning = dir.rows();
        change->make(QStringLiteral("三冊目"));
        QCOMPARE(backups(dir),
                 (QStringList{QStringLiteral("BR-20240301-090000.mdb"), QStringLiteral("BR-20240302-083000.mdb")}));
        QCOMPARE(rowsOf(dir.path() + QStringLiteral("/backup/BR-20240302-083000.mdb")), nextMorning);
        QCOMPARE(answers.backupQuestions.size(), 0);
    }

    // Opening, browsing, searching, sorting, exporting, cancelling and
    // answering No change nothing, so they make no backup.
    void readingMakesNone()
    {
        Opened<screens::ListScreen> list(shelf());
        MessageScript &messages = list.messages;
        list.screen->Text1->setText(QStringLiteral("本"));
        click(list.screen->Command14);
        click(list.screen->Command2);
        click(list.screen->Command4); // "Excelデータ変換"
        QVERIFY(QFileInfo::exists(list.dir.path() + QStringLiteral("/ブクレア.xls")));
        click(list.screen->Command1);

        auto *edit = openFromMenu<EditScreen>(list.menu);
        QVERIFY(edit);
        click(edit->Data1, "last");
        edit->Text5->setText(QStringLiteral("3"));
        click(edit->Command5);
        typeText(edit->panel->TitleBox, QStringLiteral("直し"));
        messages.answer(QMessageBox::No);
        click(edit->Command2);
        messages.answer(QMessageBox::No);
        click(edit->Command1);
        click(edit->cmdadd);

        auto *registration = openFromMenu<RegistrationScreen>(list.menu);
        QVERIFY(registration);
        typeText(registration->panel->TitleBox, QStringLiteral("登録しない本"));
        click(registration->Command2);

        QCOMPARE(list.dir.rows(), shelf());
        QVERIFY(!QFileInfo::exists(list.dir.path() + QStringLiteral("/backup")));
    }

    // A backup that cannot be made is explained before anything is
    // written; No keeps the screen as it was with everything typed, Yes
    // writes the change without a backup.
    void failedBackup_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("goOn");
        for (const char *kind : {"save", "correct", "delete"}) {
            for (bool goOn : {false, true})
                QTest::addRow("%s, a file in the folder's place, %s", kind, goOn ? "Yes" : "No")
                    << kind << "blocked" << goOn;
            QTest::addRow("%s, full disk, No", kind) << kind << "full" << false;
        }
    }
    void failedBackup()
    {
        QFETCH(QString, kind);
        QFETCH(QString, fault);
        QFETCH(bool, goOn);
        const auto change = start(kind);
        AppDir &dir = change->dir();
        const QString folder = dir.path() + QStringLiteral("/backup");
        std::optional<FaultyFolder> full;
        if (fault == QLatin1String("full")) {
            full.emplace(folder, FaultyFolder::Full);
            if (!full->available())
                SKIP_UNAVAILABLE("this system cannot make a full disk for the test");
            // More books than the disk has room for.
            dir.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 6 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                                    "INSERT INTO tabel (蔵書番号, 書名) SELECT i, hex(randomblob(60)) FROM n"));
        } else {
            QFile f(folder);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        Answers answers(dir);
        answers.onBackupFailure = goOn ? QMessageBox::Yes : QMessageBox::No;

        const QList<Book> before = dir.rows();
        if (kind != QLatin1String("delete"))
            change->make(QStringLiteral("入力した書名"));
        else
            change->make(QString());
        const QString shownTitle =
            kind == QLatin1String("delete") ? QStringLiteral("本1") : QStringLiteral("入力した書名");

        QCOMPARE(answers.backupQuestions.size(), 1);
        const screens::Message &asked = answers.backupQuestions[0];
        const QString cause = fault == QLatin1String("full")
                                  ? QStringLiteral("（ディスクの空き容量が足りません）")
                                  : QStringLiteral("（同じ名前のファイルがあってフォルダーを作れません）");
        const QString named =
            fault == QLatin1String("full") ? QStringLiteral("/backup/BR-") : QStringLiteral("/backup\r\n");
        QCOMPARE(describe(asked).section(u'|', 0, 0), QStringLiteral("Warning ブクレア"));
        QVERIFY(asked.buttons == (QMessageBox::Yes | QMessageBox::No) && asked.defaultButton == QMessageBox::No);
        QVERIFY2(asked.text.startsWith(QStringLiteral("バックアップを作成できませんでした。\r\n") + dir.path() + named),
                 qPrintable(asked.text));
        QVERIFY2(asked.text.endsWith(cause + QStringLiteral("\r\n\r\nバックアップなしで続けますか？")),
                 qPrintable(asked.text));
        QCOMPARE(answers.rowsWhenAsked, before);
        QVERIFY(backups(dir).isEmpty());

        if (goOn) {
            QVERIFY(dir.rows() != before);
        } else {
            QCOMPARE(dir.rows(), before);
            QVERIFY(change->screen());
            QCOMPARE(change->panel()->TitleBox->text(), shownTitle);
        }
    }
};

QTEST_MAIN(TestDailyBackup)
#include "test_daily_backup.moc"
