#pragma once

#include "screens/common/datascreen.h"
#include "store/recordsource.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace screens {
class DataControl;
}

namespace screens {

class BookTableModel;
class Grid;

// The list screen: the whole collection in a grid, searched by one field
// with one keyword, sorted by collection number or year, and counted.
// Window "db": the list screen.
class ListScreen : public screens::DataScreen {
    Q_OBJECT
public:
    explicit ListScreen();
    // The load sequence; also the reset of "昇順" under "蔵書番号で並べ替え".
    void load() override;

    Grid *fg;
    BookTableModel *fgModel;
    QGroupBox *Frame2;       // search
    screens::TextBox *Text1; // the search box
    QPushButton *Command14, *Command12, *Command13, *Command6, *Command8, *Command10, *Command7, *Command9,
        *Command11;        // the nine field searches
    QGroupBox *Frame3;     // "データ操作"
    QPushButton *Command4; // "Excelデータ変換"
    QGroupBox *Frame1;     // by year
    QPushButton *Command2, *Command3;
    QGroupBox *Frame4; // by collection number
    QPushButton *Command15, *Command5;
    QPushButton *Command1; // "メニュー"
    QLineEdit *Text2;      // hidden: the book count
    screens::DataControl *Data1;
    QWidget *Line1_0, *Line1_1;

    int bookCount = 0;

protected:
    // The CSV export writes the list as shown.
    const store::RecordSet *rowsToExport() const override;

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command12_Click();
    void Command13_Click();
    void Command14_Click();
    void Command15_Click();

    // Lists the books whose field holds the search box's keyword anywhere.
    void fieldSearch(store::Field field);
    // Lists every book ordered by a field.
    void sortBy(store::Field field, store::Direction direction);
};

} // namespace screens
