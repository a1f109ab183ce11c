#include "app/commandline.h"
#include "app/desktop.h"
#include "app/navigation.h"
#include "app/startup.h"
#include "screens/common/form.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // A command such as --backup runs without any window and ends there.
    if (const std::optional<int> status = app::runCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("bukurea"));
    if (!app::setUpDesktop())
        qWarning("Qt's Japanese translation (qtbase_ja.qm) is not installed; Qt's own texts stay English.");
    // The application ends when its start menu is unloaded, not when the
    // last visible window closes: the menu is hidden while a screen is shown.
    app.setQuitOnLastWindowClosed(false);
    // When the desktop session ends, windows close without their close-box
    // handling: nothing pending is written, and no screen brings back the menu.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [] { common::Form::setSessionEnding(true); });
    app::Navigator navigator;
    QObject::connect(&navigator, &app::Navigator::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Without a folder for its files there is nothing to open, and nothing
    // is looked for elsewhere.
    if (!app::showStartMenu(navigator))
        return 1;
    return app.exec();
}
