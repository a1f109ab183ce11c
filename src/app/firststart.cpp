#include "app/firststart.h"

#include "store/error.h"
#include "store/module1.h"
#include "store/places.h"

#include <QTextStream>

namespace app {

namespace {

QString oneLine(const QString &text) { return text.split(u'\n').join(u' '); }

} // namespace

QString prepareFirstStart()
{
    if (!store::makeFirstDataFolder(store::places()))
        return QString();
    store::computeDatabasePath();
    return QStringLiteral("初めての起動のため、蔵書を保存するデータベース ファイルを新しく作りました。\n%1\n"
                          "（蔵書とそのバックアップはこのフォルダーに保存されます）")
        .arg(store::databasePath());
}

void prepareForCommand(QTextStream &err)
{
    try {
        store::places();
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
