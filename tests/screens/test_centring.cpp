#include "screens/common/about.h"
#include "screens/common/progresswindow.h"
#include "support/testsupport.h"

#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

#include <memory>

using namespace testsupport;
using namespace screens;

// Every window opens centred on the screen by its whole frame, inside the
// screen's available area: one larger than the area (the runs at 2x
// scaling) is made to fit it, its contents scrolling. Offscreen
// every frame is an even border, so this run checks the placement only; run
// under a real window manager (with_window_manager.sh), whose title bar
// makes the frame uneven, it checks that the frame is taken into account.
class TestCentring : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeScreens(); }

    void windowsOpenCentredByTheirFrame_data()
    {
        QTest::addColumn<QString>("window");
        // The start menu first: the first window of a run is the one whose
        // frame is not known before it is on the screen.
        for (const char *w : {"start menu", "registration", "edit", "list", "version dialog", "progress window"})
            QTest::newRow(w) << QString::fromLatin1(w);
    }
    void windowsOpenCentredByTheirFrame()
    {
        QFETCH(QString, window);
        AppDir dir;
        dir.insert({book({"1", "本"})});
        MessageScript messages;
        app::Navigator navigator;
        std::unique_ptr<QWidget> own;
        QWidget *w = nullptr;
        if (window == QLatin1String("start menu")) {
            w = &navigator.menu();
            w->show();
        } else if (window == QLatin1String("registration")) {
            w = openFromMenu(navigator.menu(), QStringLiteral("新規登録"));
        } else if (window == QLatin1String("edit")) {
            w = openFromMenu(navigator.menu(), QStringLiteral("修正・削除"));
        } else if (window == QLatin1String("list")) {
            w = openFromMenu(navigator.menu(), QStringLiteral("データ一覧"));
        } else if (window == QLatin1String("version dialog")) {
            own = std::make_unique<frmAbout>();
            w = own.get();
            w->show();
        } else {
            QWidget *list = openFromMenu(navigator.menu(), QStringLiteral("データ一覧"));
            own = std::make_unique<screens::ProgressWindow>(list, "exportProgress", QStringLiteral("Excelデータ変換"),
                                                            QStringLiteral("/tmp/ブクレア.xls"), 10);
            w = own.get();
            w->show();
        }
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // The window system frames the window once it is on the screen.
        QTRY_VERIFY2_WITH_TIMEOUT(!w->windowHandle()->frameMargins().isNull(), "no frame around the window", 5000);
        const QRect area = w->screen()->availableGeometry();
        const auto offCentre = [&] {
            const QRect f = w->windowHandle()->frameGeometry();
            return QPoint((f.left() - area.left()) - (area.right() - f.right()),
                          (f.top() - area.top()) - (area.bottom() - f.bottom()));
        };
        // The whole frame inside the area, with equal space on either side,
        // give or take the odd pixel: a window larger than the area (run
        // with QT_SCALE_FACTOR=2) is made to fit it.
        const auto placed = [&] {
            const QRect f = w->windowHandle()->frameGeometry();
            return area.contains(f) && std::abs(offCentre().x()) <= 1 && std::abs(offCentre().y()) <= 1;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(placed(),
                                  qPrintable(QStringLiteral("frame at %1,%2 %3x%4 in %5x%6")
                                                 .arg(w->windowHandle()->frameGeometry().x())
                                                 .arg(w->windowHandle()->frameGeometry().y())
                                                 .arg(w->windowHandle()->frameGeometry().width())
                                                 .arg(w->windowHandle()->frameGeometry().height())
                                                 .arg(area.width())
                                                 .arg(area.height())),
                                  2000);
        // A window made smaller than described scrolls over all of its
        // contents, which keep their described size.
        if (auto *scroller = w->findChild<QScrollArea *>(QStringLiteral("scroller"))) {
            const QWidget *contents = scroller->widget();
            QCOMPARE(contents->objectName(), QStringLiteral("client"));
            QCOMPARE(contents->size(), contents->minimumSize());
            // The scroll bars are shown once the events of the resize are through.
            QTRY_COMPARE(scroller->horizontalScrollBar()->isVisible(),
                         contents->width() > scroller->viewport()->width());
            QTRY_COMPARE(scroller->verticalScrollBar()->isVisible(),
                         contents->height() > scroller->viewport()->height());
            QCOMPARE(scroller->horizontalScrollBar()->maximum(),
                     std::max(0, contents->width() - scroller->viewport()->width()));
            QCOMPARE(scroller->verticalScrollBar()->maximum(),
                     std::max(0, contents->height() - scroller->viewport()->height()));
        }
        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS")
            && w->grab().save(qEnvironmentVariable("BUKUREA_SCREENSHOTS")
                              + QStringLiteral("/window_%1.png").arg(window))
            && w->screen()->grabWindow(0).save(qEnvironmentVariable("BUKUREA_SCREENSHOTS")
                                               + QStringLiteral("/centred_%1.png").arg(window)))
            qInfo("scrolled %d, window %dx%d, frame %d,%d %dx%d on %dx%d",
                  w->findChild<QScrollArea *>(QStringLiteral("scroller")) != nullptr, w->width(), w->height(),
                  w->windowHandle()->frameGeometry().x(), w->windowHandle()->frameGeometry().y(),
                  w->windowHandle()->frameGeometry().width(), w->windowHandle()->frameGeometry().height(), area.width(),
                  area.height());
    }
};

QTEST_MAIN(TestCentring)
#include "test_centring.moc"
