#include "app/startup.h"

#include "app/navigation.h"
#include "screens/common/messages.h"
#include "screens/menu/menu.h"
#include "store/error.h"
#include "store/module1.h"

#include <QTextStream>

namespace app {

namespace {

// Makes the first collection where this start is the first; returns the
// notice for the user, empty when nothing was made.
QString prepareFirstStart()
{
    if (!store::makeFirstDataFolder(Module1::places()))
        return QString();
    Module1::computeDatabasePath();
    return QStringLiteral("初めての起動のため、蔵書を保存するデータベース ファイルを新しく作りました。\n%1\n"
                          "（蔵書とそのバックアップはこのフォルダーに保存されます）")
        .arg(Module1::databasePath());
}

QString oneLine(const QString &text) { return text.split(u'\n').join(u' '); }

} // namespace

bool showStartMenu(Navigator &navigator)
{
    try {
        Module1::places();
    } catch (const store::Error &e) {
        common::reportError(nullptr, e);
        return false;
    }
    navigator.menu().show();
    try {
        const QString notice = prepareFirstStart();
        if (!notice.isEmpty())
            common::showMessage({&navigator.menu(), QMessageBox::Information, QStringLiteral("ブクレア"), notice,
                                 QMessageBox::Ok, QMessageBox::Ok});
    } catch (const store::Error &e) {
        common::reportError(&navigator.menu(), e);
    }
    return true;
}

void prepareForCommand(QTextStream &err)
{
    try {
        Module1::places();
    } catch (const store::Error &) {
        return; // told once, by the command that needs the places
    }
    try {
        const QString notice = prepareFirstStart();
        if (!notice.isEmpty())
            err << "bukurea: " << oneLine(notice) << Qt::endl;
    } catch (const store::Error &e) {
        err << "bukurea: " << oneLine(e.message()) << Qt::endl;
    }
}

} // namespace app
