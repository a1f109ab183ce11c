#include "screens/menu/startmenu.h"

#include "screens/common/shell.h"

#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace screens {

StartMenu::StartMenu(QWidget *parent) : screens::Form("Menu", {0, 0, 4980, 2235}, parent)
{
    setWindowTitle(QStringLiteral("Menu"));
    setWindowIcon(QIcon(QStringLiteral(":/bukurea.ico")));

    QWidget *c = client();
    Combo1 = screens::comboBox(c, "Combo1", {840, 1170, 3255, 300});
    Combo1->addItems({QStringLiteral("新規登録"), QStringLiteral("修正・削除"), QStringLiteral("データ一覧"),
                      QStringLiteral("終了")});
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QStringLiteral("プルダウンで選択してください"));
    Command1 = screens::button(c, "Command1", QStringLiteral("OK"), {1920, 1650, 1455, 375});
    Command3 = screens::button(c, "Command3", QStringLiteral("ヘルプ"), {3480, 1650, 1215, 375});
    // The picture box is wider than the window; its right edge lies under
    // the border, the banner itself is fully visible.
    Picture1 = screens::label(c, "Picture1", QString(), {0, 0, 5250, 885});
    Picture1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(QPixmap(QStringLiteral(":/banner.gif")));
    Picture1->lower();

    setTabOrder(Combo1, Command1);
    setTabOrder(Command1, Command3);
    Combo1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &StartMenu::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &StartMenu::Command3_Click);
}

void StartMenu::Command1_Click()
{
    // Each choice is compared exactly, reading the box again every time.
    // The menu stays on view while the screen chosen loads; it is hidden
    // when the screen appears.
    if (Combo1->currentText() == QStringLiteral("新規登録"))
        emit registrationRequested();
    if (Combo1->currentText() == QStringLiteral("修正・削除"))
        emit editRequested();
    if (Combo1->currentText() == QStringLiteral("データ一覧"))
        emit listRequested();
    if (Combo1->currentText() == QStringLiteral("終了"))
        unload();
}

void StartMenu::Command3_Click() { screens::shell::openHelp(this); }

} // namespace screens
