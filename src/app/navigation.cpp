#include "app/navigation.h"

#include "app/oldcollection.h"

#include "screens/common/messages.h"
#include "screens/common/storefeedback.h"
#include "screens/edit/main2.h"
#include "screens/list/db.h"
#include "screens/menu/menu.h"
#include "screens/registration/main.h"
#include "store/error.h"

namespace app {

Navigator::Navigator() : m_menu(std::make_unique<screens::Menu>())
{
    common::showWaitCursorWhileBusy();
    connect(m_menu.get(), &screens::Menu::registrationRequested, this, &Navigator::open<screens::Main>);
    connect(m_menu.get(), &screens::Menu::editRequested, this, &Navigator::open<screens::Main2>);
    connect(m_menu.get(), &screens::Menu::listRequested, this, &Navigator::open<screens::db>);
    connect(m_menu.get(), &common::Form::unloaded, this, &Navigator::ended);
}

Navigator::~Navigator() = default;

template <typename Screen> void Navigator::open()
{
    auto *screen = new Screen;
    screen->setAttribute(Qt::WA_DeleteOnClose);
    follow(screen);
    // The window that asked stays on view while the screen loads, which may
    // wait for a file locked by another program (with the wait cursor).
    try {
        store::BusyWait operation;
        screen->load();
    } catch (const store::AccessFormatError &e) {
        // A collection from the older program: converted once on the
        // user's word, then the screen is opened on it as asked.
        delete screen;
        if (convertOldCollection(e.path()) && !store::isAccessFormat(store::detectFileFormat(e.path())))
            open<Screen>();
        else
            m_menu->show();
        return;
    } catch (const store::Error &e) {
        common::reportError(nullptr, e);
        delete screen;
        m_menu->show();
        return;
    }
    m_menu->hide();
    screen->show();
    screen->activateWindow();
}

void Navigator::follow(common::DataScreen *screen)
{
    connect(screen, &common::DataScreen::menuRequested, m_menu.get(), &QWidget::show);
    connect(screen, &common::DataScreen::listRequested, this, &Navigator::open<screens::db>);
    connect(screen, &common::DataScreen::endRequested, m_menu.get(), &common::Form::unload);
}

} // namespace app
