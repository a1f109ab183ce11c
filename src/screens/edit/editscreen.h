#pragma once

#include "screens/common/datascreen.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace screens {
class DataControl;
}

namespace screens {

class RecordPanel;

// The edit and delete screen: shows the books one at a time in the record
// panel, steps through them with the data control, finds a book by its
// collection number, stores corrections, deletes the current book, and
// leaves to the start menu or to the list screen.
//
// The window caption carries the book count, taken at load and lowered by
// each deletion made here; a number search never changes it.
// Window "Main2": the edit and delete screen.
class EditScreen : public screens::DataScreen {
    Q_OBJECT
public:
    explicit EditScreen();
    // Opens the whole table on its first book and counts it; throws store::Error.
    void load() override;

    RecordPanel *panel;
    screens::DataControl *Data1;
    QGroupBox *Frame4;       // "データ操作"
    QGroupBox *Frame11;      // the box around the search group
    QPushButton *Command2;   // "修正"
    QPushButton *Command1;   // "削除"
    QPushButton *cmdrep;     // "データ一覧"
    QPushButton *cmdadd;     // "メニュー"
    screens::TextBox *Text5; // the number box of the search
    QPushButton *Command5;   // "蔵書番号検索"
    QPushButton *Command6;   // "検索リセット"
    QLineEdit *Text7;        // hidden copy of the book count
    QWidget *Line1, *Line2;

protected:
    // Drops what was typed into the panel for the current book.
    void dropPending() override;

private:
    void Data1_Reposition();
    void Command2_Click();
    void Command1_Click();
    void Command5_Click();
    void Command6_Click();
    void cmdadd_Click();
    void cmdrep_Click();

    bool writeCorrection();
    bool saveBeforeLeaving();
    bool hasCurrentBook() const;
    void showBookCount();

    int m_bookCount = 0;
};

} // namespace screens
