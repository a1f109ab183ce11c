#include "screens/common/shell.h"

#include "screens/common/messages.h"
#include "store/error.h"
#include "store/module1.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace screens::shell {

namespace {
Opener g_opener;
}

void setOpener(Opener opener) { g_opener = std::move(opener); }

void open(QWidget *, const QString &file, const QString &directory)
{
    const QString path = directory + QStringLiteral("/") + file;
    if (!QFileInfo(path).isFile())
        return;
    const QUrl url = QUrl::fromLocalFile(path);
    // The result is not examined: there is nothing the caller would do.
    if (g_opener)
        g_opener(url);
    else
        QDesktopServices::openUrl(url);
}

void openHelp(QWidget *window)
{
    try {
        open(window, QStringLiteral("index.htm"), store::places().helpDirectory);
    } catch (const store::Error &e) {
        reportError(window, e);
    }
}

} // namespace screens::shell
