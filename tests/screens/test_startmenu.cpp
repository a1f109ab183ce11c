#include "screens/menu/startmenu.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace testsupport;
using namespace screens;

// The start menu: dispatch on the exact choice, hiding and coming back, the
// ways the application ends, and help.
class TestMenu : public QObject {
    Q_OBJECT
private slots:
    void looksAsDesigned()
    {
        app::Navigator navigator;
        StartMenu &menu = navigator.menu();
        menu.show();
        QCOMPARE(menu.windowTitle(), QStringLiteral("Menu"));
        QCOMPARE(menu.client()->size(), QSize(332, 149));
        QCOMPARE(menu.Combo1->currentText(), QStringLiteral("プルダウンで選択してください"));
        QStringList items;
        for (int i = 0; i < menu.Combo1->count(); ++i)
            items << menu.Combo1->itemText(i);
        QCOMPARE(items, QStringList({"新規登録", "修正・削除", "データ一覧", "終了"}));
        QCOMPARE(menu.Command1->text(), QStringLiteral("OK"));
        QCOMPARE(menu.Command3->text(), QStringLiteral("ヘルプ"));
        QVERIFY(!menu.Command1->isDefault() && !menu.Command1->autoDefault());
        QCOMPARE(menu.Picture1->pixmap().size(), QSize(330, 56));
        QVERIFY(!menu.windowIcon().isNull());
        QVERIFY(!(menu.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(menu.minimumSize(), menu.maximumSize());
        QVERIFY(QTest::qWaitForWindowActive(&menu));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(menu.Combo1));
        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS"))
            menu.grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/menu.png"));
    }

    void otherTextsDoNothing_data()
    {
        QTest::addColumn<QString>("text");
        for (const char *t :
             {"プルダウンで選択してください", "", " 終了", "終了 ", "データ一覧　", "新規", "ﾃﾞｰﾀ一覧", "修正･削除"})
            QTest::newRow(t) << QString::fromUtf8(t);
    }
    void otherTextsDoNothing()
    {
        QFETCH(QString, text);
        AppDir dir;
        MessageScript messages;
        app::Navigator navigator;
        StartMenu &menu = navigator.menu();
        QSignalSpy ended(&navigator, &app::Navigator::ended);
        menu.show();
        menu.Combo1->setEditText(text);
        QTest::mouseClick(menu.Command1, Qt::LeftButton);
        settle();
        QVERIFY(menu.isVisible());
        QCOMPARE(ended.count(), 0);
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(menu.Combo1->currentText(), text);
    }

    void choicesOpenTheirScreen_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("screen");
        QTest::newRow("register") << "新規登録"
                                  << "Main";
        QTest::newRow("edit") << "修正・削除"
                              << "Main2";
        QTest::newRow("list") << "データ一覧"
                              << "db";
    }
    void choicesOpenTheirScreen()
    {
        QFETCH(QString, choice);
        QFETCH(QString, screen);
        AppDir dir;
        dir.insert({book({"1", "本"})});
        MessageScript messages;
        app::Navigator navigator;
        StartMenu &menu = navigator.menu();
        menu.show();
        menu.Combo1->setEditText(choice); // typed by hand works like choosing
        QTest::mouseClick(menu.Command1, Qt::LeftButton);
        QVERIFY(!menu.isVisible());
        auto *form = qobject_cast<screens::Form *>(visibleWindow(screen));
        QVERIFY(form);
        // The user's close box returns to the menu, which kept its choice.
        form->close();
        settle();
        QVERIFY(menu.isVisible());
        QCOMPARE(liveWindows(screen), 0);
        QCOMPARE(menu.Combo1->currentText(), choice);
        // OK at once opens the same screen again.
        QTest::mouseClick(menu.Command1, Qt::LeftButton);
        QVERIFY(visibleWindow(screen));
        qobject_cast<screens::Form *>(visibleWindow(screen))->close();
        settle();
        QVERIFY(messages.shown.isEmpty());
    }

    void failedLoadReturnsToMenu_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::newRow("register") << "新規登録";
        QTest::newRow("edit") << "修正・削除";
        QTest::newRow("list") << "データ一覧";
    }
    void failedLoadReturnsToMenu()
    {
        QFETCH(QString, choice);
        AppDir dir;
        QFile::remove(dir.dbPath());
        MessageScript messages;
        app::Navigator navigator;
        StartMenu &menu = navigator.menu();
        menu.show();
        menu.Combo1->setCurrentText(choice);
        QTest::mouseClick(menu.Command1, Qt::LeftButton);
        settle();
        QVERIFY(menu.isVisible());
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].icon, QMessageBox::Critical);
        QVERIFY(messages.shown[0].text.contains(dir.dbPath()));
        QVERIFY(!QFile::exists(dir.dbPath())); // never created
        for (const char *s : {"Main", "Main2", "db"})
            QCOMPARE(liveWindows(QLatin1String(s)), 0);
    }

    void endsTheApplication_data()
    {
        QTest::addColumn<bool>("byCloseBox");
        QTest::newRow("終了") << false;
        QTest::newRow("close box") << true;
    }
    void endsTheApplication()
    {
        QFETCH(bool, byCloseBox);
        app::Navigator navigator;
        StartMenu &menu = navigator.menu();
        QSignalSpy ended(&navigator, &app::Navigator::ended);
        menu.show();
        if (byCloseBox) {
            menu.close();
        } else {
            menu.Combo1->setCurrentIndex(3);
            QTest::mouseClick(menu.Command1, Qt::LeftButton);
        }
        QCOMPARE(ended.count(), 1);
        QVERIFY(!menu.isVisible());
    }

    void helpOpensTheApplicationsDocument()
    {
        AppDir dir;
        QFile page(dir.path() + QStringLiteral("/index.htm"));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.close();
        ShellFake shell;
        app::Navigator navigator;
        StartMenu &menu = navigator.menu();
        menu.show();
        const QString before = QDir::currentPath();
        QDir::setCurrent(QDir::tempPath());
        QTest::mouseClick(menu.Command3, Qt::LeftButton);
        QTest::mouseClick(menu.Command3, Qt::LeftButton);
        QDir::setCurrent(before);
        QCOMPARE(shell.opened,
                 QList<QUrl>({QUrl::fromLocalFile(page.fileName()), QUrl::fromLocalFile(page.fileName())}));
        // Without the document nothing is asked of the shell and nothing changes.
        page.remove();
        QTest::mouseClick(menu.Command3, Qt::LeftButton);
        QCOMPARE(shell.opened.size(), 2);
        QVERIFY(menu.isVisible());
    }
};

QTEST_MAIN(TestMenu)
#include "test_startmenu.moc"
