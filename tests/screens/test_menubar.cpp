#include "app/navigation.h"
#include "screens/common/about.h"
#include "screens/common/datascreen.h"
#include "screens/menu/startmenu.h"
#include "support/testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace testsupport;
using namespace screens;

// The menu bar of the three data screens: exit, help and version.
class TestMenuBar : public QObject {
    Q_OBJECT

    // The screen of the row's choice, opened on two books.
    struct Screen : Opened<screens::DataScreen> {
        explicit Screen(const QString &choice)
            : Opened({book({"1", "吾輩は猫である", "夏目漱石", "大倉書店", "1905", "9 文学", "書斎", "可", "猫"}),
                      book({"2", "坊っちゃん", "夏目漱石", nullptr, "1906"})},
                     choice)
        {}
    };

    static void addScreens()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("helpItem");
        QTest::newRow("Main") << "新規登録"
                              << "mnuhlo";
        QTest::newRow("Main2") << "修正・削除"
                               << "nmuhlo";
        QTest::newRow("db") << "データ一覧"
                            << "mnuhlo";
    }

private slots:
    void cleanup() { closeScreens(); }

    void menuBarAsDesigned_data() { addScreens(); }
    void menuBarAsDesigned()
    {
        QFETCH(QString, choice);
        QFETCH(QString, helpItem);
        Screen o(choice);
        const QList<QAction *> top = o.screen->menuBar()->actions();
        QCOMPARE(top.size(), 2);
        QCOMPARE(top[0]->text(), QStringLiteral("ファイル(&F)"));
        QCOMPARE(top[1]->text(), QStringLiteral("ヘルプ(&H)"));
        const auto texts = [](QMenu *m) {
            QStringList t;
            for (QAction *a : m->actions())
                t << a->objectName() + u'=' + a->text();
            return t;
        };
        // The CSV items above the exit command, a separator before it.
        QCOMPARE(texts(child<QMenu>(o.screen, "mnufile")),
                 QStringList({"mnucsvout=CSV ファイルに書き出す(&E)...", "mnucsvin=CSV ファイルから取り込む(&I)...",
                              "=", "mnuend=アプリケーションの終了(&X)"}));
        QVERIFY(child<QMenu>(o.screen, "mnufile")->actions()[2]->isSeparator());
        QCOMPARE(texts(child<QMenu>(o.screen, "mnuhlp")), QStringList({helpItem + QStringLiteral("=ヘルプを開く(&O)"),
                                                                       QStringLiteral("mnuver=バージョン情報(&V)")}));
    }

    void exitEndsTheApplication_data() { addScreens(); }
    void exitEndsTheApplication()
    {
        QFETCH(QString, choice);
        Screen o(choice);
        QVERIFY(!o.menu.isVisible());
        if (o.screen->objectName() == QLatin1String("Main"))
            typeText(child<QLineEdit>(o.screen, "Text7"), QStringLiteral("書きかけ")); // a pending new row
        QSignalSpy ended(&o.menu, &screens::Form::unloaded);
        const QString name = o.screen->objectName();
        // Alt+F opens the file menu, X chooses the exit command.
        QTest::keyClick(o.screen, Qt::Key_F, Qt::AltModifier);
        QMenu *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(popup);
        QCOMPARE(popup->objectName(), QStringLiteral("mnufile"));
        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS")) {
            // The open menu is a window of its own: draw it over the screen.
            QPixmap shot = o.screen->grab();
            QPainter(&shot).drawPixmap(popup->pos() - o.screen->mapToGlobal(QPoint(0, 0)), popup->grab());
            shot.save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + u'/' + name + QStringLiteral("_menu.png"));
        }
        QTest::keyClick(popup, Qt::Key_X);
        settle();
        QCOMPARE(ended.count(), 1);
        QVERIFY(!o.menu.isVisible());
        QCOMPARE(liveWindows(name), 0);
        QCOMPARE(o.dir.count(), 2); // the pending row was dropped, nothing written
        QVERIFY(o.messages.shown.isEmpty());
    }

    void helpOpensTheDocument_data() { addScreens(); }
    void helpOpensTheDocument()
    {
        QFETCH(QString, choice);
        QFETCH(QString, helpItem);
        Screen o(choice);
        const QString page = o.dir.path() + QStringLiteral("/index.htm");
        QFile f(page);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        ShellFake shell;
        const QString before = QDir::currentPath();
        QDir::setCurrent(QDir::rootPath());
        auto *item = child<QAction>(o.screen, helpItem.toLatin1().constData());
        item->trigger();
        item->trigger();
        QDir::setCurrent(before);
        QCOMPARE(shell.opened, QList<QUrl>({QUrl::fromLocalFile(page), QUrl::fromLocalFile(page)}));
        QVERIFY(o.screen->isVisible());
        QFile::remove(page); // a missing document: nothing happens
        item->trigger();
        QCOMPARE(shell.opened.size(), 2);
        QVERIFY(o.messages.shown.isEmpty());
    }

    void versionDialogIsModal_data() { addScreens(); }
    void versionDialogIsModal()
    {
        QFETCH(QString, choice);
        Screen o(choice);
        const auto state = [&] {
            QStringList s{o.screen->focusWidget() ? o.screen->focusWidget()->objectName() : QString()};
            for (QLineEdit *e : o.screen->findChildren<QLineEdit *>())
                s << e->objectName() + u'=' + e->text();
            s << o.screen->windowTitle();
            return s;
        };
        const QStringList before = state();

        // What the dialog shows is read while it is up; then it is closed
        // through its title bar, the only way it has.
        struct Seen {
            bool open = false, modal = false, blocksScreen = false, hasButton = true, hasIcon = false;
            QString title, name;
            QSize size;
            bool framed = false;
            QStringList lines;
        } seen;
        QTimer::singleShot(0, this, [&] {
            auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
            if (about) {
                seen.open = true;
                seen.modal = about->isModal();
                seen.blocksScreen = QApplication::activeModalWidget() != o.screen;
                seen.hasButton = !about->findChildren<QAbstractButton *>().isEmpty();
                seen.hasIcon = !about->Image1->pixmap().isNull();
                seen.title = about->windowTitle();
                seen.size = about->size();
                seen.name = about->Label1->text();
                seen.framed = about->Label1->parentWidget() == about->Frame1;
                for (QLabel *l : {about->Label2, about->Label3, about->Label4})
                    seen.lines << l->text();
                if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS"))
                    about->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/about.png"));
            }
            if (QWidget *w = QApplication::activeModalWidget())
                w->close();
        });
        child<QAction>(o.screen, "mnuver")->trigger();

        QVERIFY(seen.open);
        QVERIFY(seen.modal && seen.blocksScreen);
        QCOMPARE(seen.title, QStringLiteral("バージョン情報"));
        QCOMPARE(seen.size, QSize(307, 106));
        QCOMPARE(seen.name, QStringLiteral("ブクレア Ver. 1.08"));
        QVERIFY(seen.framed && seen.hasIcon && !seen.hasButton);
        QCOMPARE(seen.lines.size(), 3);
        QVERIFY(!seen.lines.contains(QString()));
        settle();
        QCOMPARE(liveWindows(QStringLiteral("frmAbout")), 0);
        QVERIFY(o.screen->isVisible());
        QCOMPARE(state(), before);
    }
};

QTEST_MAIN(TestMenuBar)
#include "test_menubar.moc"
