#include "app/navigation.h"

#include "screens/common/messages.h"
#include "screens/edit/main2.h"
#include "screens/list/db.h"
#include "screens/menu/menu.h"
#include "screens/registration/main.h"
#include "store/error.h"

namespace app {

namespace {

// Creates a data screen and runs its load; a load that fails is reported,
// the screen is dropped and the start menu comes back, so the user is never
// left without a window.
template <typename Screen> void openScreen()
{
    auto *screen = new Screen;
    screen->setAttribute(Qt::WA_DeleteOnClose);
    try {
        screen->load();
    } catch (const store::Error &e) {
        common::reportError(nullptr, e);
        delete screen;
        showMenu();
        return;
    }
    screen->show();
    screen->activateWindow();
}

} // namespace

void showMenu()
{
    if (Menu *m = Menu::instance())
        m->show();
}

void unloadMenu()
{
    if (Menu *m = Menu::instance())
        m->unload();
}

} // namespace app

namespace app {

void showRegistration() { openScreen<Main>(); }
void showEdit() { openScreen<Main2>(); }
void showList() { openScreen<db>(); }

} // namespace app
