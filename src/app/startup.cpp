#include "app/startup.h"

#include "app/firststart.h"
#include "app/navigation.h"
#include "screens/common/messages.h"
#include "screens/menu/startmenu.h"
#include "store/error.h"
#include "store/module1.h"

namespace app {

bool showStartMenu(Navigator &navigator)
{
    try {
        store::places();
    } catch (const store::Error &e) {
        screens::reportError(nullptr, e);
        return false;
    }
    navigator.menu().show();
    try {
        const QString notice = prepareFirstStart();
        if (!notice.isEmpty())
            screens::showMessage({&navigator.menu(), QMessageBox::Information, QStringLiteral("ブクレア"), notice,
                                  QMessageBox::Ok, QMessageBox::Ok});
    } catch (const store::Error &e) {
        screens::reportError(&navigator.menu(), e);
    }
    return true;
}

} // namespace app
