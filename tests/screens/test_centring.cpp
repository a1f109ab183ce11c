#include "screens/common/about.h"
#include "screens/common/progresswindow.h"
#include "support/testsupport.h"

#include <QScreen>
#include <QTest>
#include <QWindow>

#include <memory>

using namespace testsupport;
using namespace screens;

// Every window opens centred on the screen by its whole frame, or at the top
// left of the screen when it is larger (the runs at 2x scaling). Offscreen
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
            own = std::make_unique<common::ProgressWindow>(list, "exportProgress", QStringLiteral("Excelデータ変換"),
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
        // Equal space on either side, give or take the odd pixel; a window
        // larger than the area (run with QT_SCALE_FACTOR=2) at the area's
        // top left, where its title bar is on the screen.
        const auto placed = [&] {
            const QRect f = w->windowHandle()->frameGeometry();
            const bool wide = f.width() > area.width(), tall = f.height() > area.height();
            return (wide ? f.left() == area.left() : std::abs(offCentre().x()) <= 1)
                   && (tall ? f.top() == area.top() : std::abs(offCentre().y()) <= 1);
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
        if (qEnvironmentVariableIsSet("BUKUREA_SCREENSHOTS") && w->screen()->grabWindow(0).save(
                qEnvironmentVariable("BUKUREA_SCREENSHOTS") + QStringLiteral("/centred_%1.png").arg(window)))
            qInfo("frame %d,%d %dx%d on %dx%d", w->windowHandle()->frameGeometry().x(), w->windowHandle()->frameGeometry().y(),
                  w->windowHandle()->frameGeometry().width(), w->windowHandle()->frameGeometry().height(), area.width(), area.height());
    }
};

QTEST_MAIN(TestCentring)
#include "test_centring.moc"
