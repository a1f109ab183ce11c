#include "screens/common/about.h"

#include "screens/common/centring.h"
#include "screens/common/ui.h"

#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QVersionNumber>

namespace screens {

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    const QIcon icon(QStringLiteral(":/bukurea.ico"));
    setWindowIcon(icon);
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(screens::toPixels({0, 0, 4605, 1590}).size());

    Frame1 = screens::frame(this, "Frame1", QString(), {1080, 120, 3135, 600});
    Label1 = screens::label(Frame1, "Label1", QStringLiteral("ブクレア Ver. ") + versionText(), {840, 255, 1575, 255});
    Image1 = screens::label(this, "Image1", QString(), {315, 225, 480, 480});
    Image1->setPixmap(icon.pixmap(32, 32));
    Label4 = screens::label(this, "Label4", QStringLiteral("bukurea@example.jp"), {1560, 1320, 1815, 255});
    Label3 = screens::label(this, "Label3", QStringLiteral("https://bukurea.example.jp/"), {1200, 1080, 3015, 255});
    Label2 = screens::label(this, "Label2", QStringLiteral("© 2026 ブクレア開発チーム"), {1440, 840, 2535, 255});
    for (QLabel *l : {Label2, Label3, Label4})
        l->setAlignment(Qt::AlignCenter);

    screens::centreOnScreen(this);
}

QString frmAbout::versionText()
{
    const QVersionNumber v = QVersionNumber::fromString(QStringLiteral(BUKUREA_VERSION));
    return QStringLiteral("%1.%2%3").arg(v.majorVersion()).arg(v.minorVersion()).arg(v.microVersion());
}

void frmAbout::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace screens
