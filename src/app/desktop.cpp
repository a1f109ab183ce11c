#include "app/desktop.h"

#include "app/fonts.h"
#include "screens/common/form.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace app {

namespace {

// Qt's Japanese catalogue, qtbase_ja.qm, from where this Qt keeps its
// translations. Japanese whatever the desktop's locale: the whole user
// interface is Japanese, and Qt's few texts must not stand out in English.
bool installQtTranslation()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace

bool setUpDesktop()
{
    installFontSubstitutions();
    // When the desktop session ends, windows close without their close-box
    // handling: nothing pending is written, and no screen brings back the menu.
    if (auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        QObject::connect(application, &QGuiApplication::commitDataRequest,
                         [] { screens::Form::setSessionEnding(true); });
    return installQtTranslation();
}

} // namespace app
