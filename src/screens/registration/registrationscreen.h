#pragma once

#include "screens/common/datascreen.h"

class QGroupBox;
class QPushButton;

namespace screens {
class DataControl;
}

namespace screens {

class RecordPanel;

// The registration screen: enters one new book. Every opening starts a new
// empty record that the book record panel fills; "新規登録" writes it,
// "キャンセル" or the close box drops it, and either way the start menu comes
// back. The data control is shown but disabled, so no other record can be
// reached from here.
// Window "Main": the registration screen.
class RegistrationScreen : public screens::DataScreen {
    Q_OBJECT
public:
    explicit RegistrationScreen();
    // Opens the book table and starts the new record; throws store::Error.
    void load() override;

    RecordPanel *panel;
    QGroupBox *Frame4;     // "データ操作"
    QPushButton *Command1; // "新規登録"
    QPushButton *Command2; // "キャンセル"
    screens::DataControl *Data1;
    QWidget *Line1, *Line2;

protected:
    // Drops the new record; nothing is written.
    void dropPending() override;
    // The screen shows no count: what is typed for the new book stays.
    void booksImported() override {}

private:
    void Command1_Click();
    // Asks whether to register a book whose title and author are already in
    // the collection; true to go on (also when there is none).
    bool askAboutSameBook();
};

} // namespace screens
