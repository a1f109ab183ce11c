#include "app/desktop.h"
#include "app/instancelock.h"
#include "app/navigation.h"
#include "app/startup.h"
#include "store/module1.h"

#include <QApplication>
#include <QFileInfo>

#include <memory>

// The start with windows, in the module that the program (launcher.cpp)
// loads when its arguments name no windowless command.
extern "C" Q_DECL_EXPORT int bukurea_windows_main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("bukurea"));
    if (!app::setUpDesktop())
        qWarning("Qt's Japanese translation (qtbase_ja.qm) is not installed; Qt's own texts stay English.");
    // The application ends when its start menu is unloaded, not when the
    // last visible window closes: the menu is hidden while a screen is shown.
    app.setQuitOnLastWindowClosed(false);
    app::Navigator navigator;
    QObject::connect(&navigator, &app::Navigator::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Without a folder for its files there is nothing to open, and nothing
    // is looked for elsewhere.
    if (!app::showStartMenu(navigator))
        return 1;
    // Held until the program ends: a second instance on this collection is
    // told. The folder is known here, and on an installed program's first
    // start it has just been made.
    store::computeDatabasePath();
    const QString folder = QFileInfo(store::databasePath()).absolutePath();
    const app::InstanceLock instance(folder);
    if (!app::goOnBesideOtherInstance(instance, folder))
        return 0;
    return app.exec();
}
