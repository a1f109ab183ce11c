#pragma once

#include "screens/common/ui.h"

#include <QObject>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace screens {
class DataControl;
}

namespace screens {

// The book record panel shared by the registration and the edit screens:
// a frame per field with its bound box, the category list, and the lending
// indicator. It holds no data of its own: every value lives in the host
// screen's current record, through the data control the boxes are bound to.
class RecordPanel : public QObject {
    Q_OBJECT
public:
    struct Placement {
        const char *titleBoxName;      // "Text7" on the registration screen, "Text4" on the edit screen
        int yearLabelWidth;            // twips
        screens::Twips lendingLabelAt; // the hidden bound label inside its frame
    };
    RecordPanel(QWidget *client, screens::DataControl *data, const Placement &placement);

    static QColor availableColor() { return {128, 128, 255}; }
    static QColor lentOutColor() { return {255, 128, 128}; }
    // The ten fixed items of the category box.
    static const QStringList &categories();

    // Recolours the indicator from the bound lending value: "可" and "中"
    // exactly; any other value leaves the colour as it was.
    void showLendingState();
    // The last panel control in the focus order; the host's controls follow it.
    QWidget *lastInFocusOrder() const;

    QGroupBox *Frame3, *Frame6, *Frame7, *Frame8, *Frame9, *Frame5, *Frame1, *Frame2, *Frame10;
    QLineEdit *TitleBox;   // bound to 書名, named per host
    QLineEdit *Text8;      // 著者名
    QLineEdit *Text9;      // 出版社
    QLineEdit *Text3;      // 出版年
    QComboBox *Combo1;     // 分類
    QLineEdit *Text6;      // 蔵書番号
    QLineEdit *Text2;      // キーワード
    QLineEdit *Text1;      // 保管場所
    QLabel *Label1;        // "年"
    QPushButton *Command3; // "貸出し可能"
    QPushButton *Command4; // "貸出し中"
    QLabel *Label4;        // the colour box
    QLabel *Label5;        // hidden, bound to 貸出

private:
    void Command3_Click();
    void Command4_Click();
};

} // namespace screens
