#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;

namespace screens {

// The version dialog: the program's name and version, its icon and three
// lines about its maker. It has no button; the title bar closes it, and
// Escape, with no cancel button to press, does nothing.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);

    QGroupBox *Frame1;
    QLabel *Label1; // name and version
    QLabel *Image1;
    QLabel *Label2; // notice
    QLabel *Label3; // home page
    QLabel *Label4; // e-mail

    // "1.08" for the program version 1.0.8.
    static QString versionText();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace screens
