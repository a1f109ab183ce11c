#include "app/commandline.h"
#include "app/desktop.h"
#include "app/instancelock.h"
#include "app/navigation.h"
#include "screens/common/form.h"
#include "screens/common/messages.h"
#include "screens/menu/menu.h"
#include "store/error.h"
#include "store/module1.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    // A command such as --backup runs without any window and ends there.
    if (const std::optional<int> status = app::runCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("bukurea"));
    if (!app::setUpDesktop())
        qWarning("Qt's Japanese translation (qtbase_ja.qm) is not installed; Qt's own texts stay English.");
    // Every file of the application lies in its directory: without a name
    // for it there is nothing to open, and nothing is looked for elsewhere.
    QString folder;
    try {
        Module1::computeDatabasePath();
        folder = QFileInfo(Module1::databasePath()).absolutePath();
    } catch (const store::Error &e) {
        common::reportError(nullptr, e);
        return 1;
    }
    // Held until the program ends: a second instance on this collection is told.
    const app::InstanceLock instance(folder);
    if (!app::goOnBesideOtherInstance(instance, folder))
        return 0;
    // The application ends when its start menu is unloaded, not when the
    // last visible window closes: the menu is hidden while a screen is shown.
    app.setQuitOnLastWindowClosed(false);
    // When the desktop session ends, windows close without their close-box
    // handling: nothing pending is written, and no screen brings back the menu.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [] { common::Form::setSessionEnding(true); });
    app::Navigator navigator;
    QObject::connect(&navigator, &app::Navigator::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    navigator.menu().show();
    return app.exec();
}
