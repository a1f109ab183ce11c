#pragma once

#include "screens/common/form.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace screens {

// The start menu: the first window and the hub between the screens. It is
// hidden, never destroyed, while a data screen is shown. It opens no screen
// itself: "OK" asks for the chosen screen through a signal, and the
// application hides the menu once that screen has loaded and appears.
// Window "Menu": the start menu.
class StartMenu : public screens::Form {
    Q_OBJECT
public:
    explicit StartMenu(QWidget *parent = nullptr);

    QComboBox *Combo1;     // the screen choice
    QPushButton *Command1; // "OK"
    QPushButton *Command3; // "ヘルプ"
    QLabel *Picture1;      // the banner

signals:
    void registrationRequested();
    void editRequested();
    void listRequested();

private:
    void Command1_Click();
    void Command3_Click();
};

} // namespace screens
