#pragma once

#include "screens/common/form.h"

class QComboBox;
class QLabel;
class QPushButton;

// The start menu: the first window and the hub between the screens. It is
// hidden, never destroyed, while a data screen is shown.
class Menu : public common::Form {
    Q_OBJECT
public:
    explicit Menu(QWidget *parent = nullptr);
    ~Menu() override;
    // The one start menu of the application, or null.
    static Menu *instance();

    QComboBox *Combo1;     // the screen choice
    QPushButton *Command1; // "OK"
    QPushButton *Command3; // "ヘルプ"
    QLabel *Picture1;      // the banner

private:
    void Command1_Click();
    void Command3_Click();
};
