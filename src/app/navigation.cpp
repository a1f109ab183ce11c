#include "app/navigation.h"

#include "app/oldcollection.h"

#include "screens/common/messages.h"
#include "screens/common/storefeedback.h"
#include "screens/edit/editscreen.h"
#include "screens/list/listscreen.h"
#include "screens/menu/startmenu.h"
#include "screens/registration/registrationscreen.h"
#include "store/error.h"
#include "store/fileformat.h"
#include "store/module1.h"

namespace app {

namespace {

// A collection from the older program is converted once, on the user's
// word, before any screen is built on it. Returns false when there is no
// folder for the collection or it still is an Access file (the user said
// No, or the conversion failed or was cancelled), each told already: no
// screen opens then.
bool collectionReadable()
{
    try {
        store::computeDatabasePath();
    } catch (const store::Error &e) {
        screens::reportError(nullptr, e);
        return false;
    }
    const QString path = store::databasePath();
    if (!store::isAccessFormat(store::detectFileFormat(path)))
        return true;
    return convertOldCollection(path) && !store::isAccessFormat(store::detectFileFormat(path));
}

} // namespace

Navigator::Navigator() : m_menu(std::make_unique<screens::StartMenu>())
{
    screens::showWaitCursorWhileBusy();
    connect(m_menu.get(), &screens::StartMenu::registrationRequested, this,
            &Navigator::open<screens::RegistrationScreen>);
    connect(m_menu.get(), &screens::StartMenu::editRequested, this, &Navigator::open<screens::EditScreen>);
    connect(m_menu.get(), &screens::StartMenu::listRequested, this, &Navigator::open<screens::ListScreen>);
    connect(m_menu.get(), &screens::Form::unloaded, this, &Navigator::ended);
}

Navigator::~Navigator() = default;

template <typename Screen> void Navigator::open()
{
    if (!collectionReadable()) {
        m_menu->show();
        return;
    }
    auto *screen = new Screen;
    screen->setAttribute(Qt::WA_DeleteOnClose);
    follow(screen);
    // The window that asked stays on view while the screen loads, which may
    // wait for a file locked by another program (with the wait cursor). A
    // file replaced by an Access file meanwhile fails here like any file
    // that cannot be opened, and is converted when the user chooses again.
    try {
        store::BusyWait operation;
        screen->load();
    } catch (const store::Error &e) {
        screens::reportError(nullptr, e);
        delete screen;
        m_menu->show();
        return;
    }
    m_menu->hide();
    screen->show();
    screen->activateWindow();
}

void Navigator::follow(screens::DataScreen *screen)
{
    connect(screen, &screens::DataScreen::menuRequested, m_menu.get(), &QWidget::show);
    connect(screen, &screens::DataScreen::listRequested, this, &Navigator::open<screens::ListScreen>);
    connect(screen, &screens::DataScreen::endRequested, m_menu.get(), &screens::Form::unload);
}

} // namespace app
