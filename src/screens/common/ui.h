#pragma once

#include "screens/common/textbox.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPushButton>
#include <QRect>
#include <QString>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QWidget;

// Builders for the controls of the screens. Positions are given in twips
// (15 twips are one pixel at 96 dots per inch), relative to the parent.
namespace screens {

struct Twips {
    int left, top, width, height;
};
QRect toPixels(Twips t);
int toPixels(int twips);

// "ＭＳ Ｐゴシック", substituted at start-up by an installed Japanese font.
const QString &pGothic();
QFont font(double points, bool bold = false, const QString &family = pGothic());

// Paints a control's background in a solid colour.
void setBackground(QWidget *w, const QColor &color);
QColor backgroundOf(const QWidget *w);
// Lets a control use the input method (Japanese input on) or not (direct input).
void setInputMethod(QWidget *w, bool on);

// A push button of the screens. While it has the focus, Enter (Return or
// the keypad's Enter) presses it as Space does. It is never a default
// button: Enter anywhere else in the window presses nothing. Holding Enter
// down presses it once.
class Button : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Names a control and puts it in its place.
template <typename W> W *place(W *w, const char *name, Twips at)
{
    w->setObjectName(QLatin1String(name));
    w->setGeometry(toPixels(at));
    return w;
}

Button *button(QWidget *parent, const char *name, const QString &caption, Twips at);
QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, Twips at);
TextBox *textBox(QWidget *parent, const char *name, Twips at);
QLabel *label(QWidget *parent, const char *name, const QString &text, Twips at);
// An editable combo box whose line edit is a TextBox (its lineEdit()).
QComboBox *comboBox(QWidget *parent, const char *name, Twips at);
// A horizontal one-pixel line from (x1, y) to (x2, y), in a palette colour.
QWidget *line(QWidget *parent, const char *name, int x1, int x2, int y, QPalette::ColorRole role);

// A window-background colour of the platform's palette, for system colours.
QColor systemColor(QPalette::ColorRole role);

} // namespace screens
