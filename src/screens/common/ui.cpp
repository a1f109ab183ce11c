#include "screens/common/ui.h"

#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace screens {

int toPixels(int twips) { return qRound(twips / 15.0); }

QRect toPixels(Twips t) { return {toPixels(t.left), toPixels(t.top), toPixels(t.width), toPixels(t.height)}; }

const QString &pGothic()
{
    static const QString family = QStringLiteral("ＭＳ Ｐゴシック");
    return family;
}

QFont font(double points, bool bold, const QString &family)
{
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

void setBackground(QWidget *w, const QColor &color)
{
    QPalette p = w->palette();
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        p.setColor(role, color);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QColor backgroundOf(const QWidget *w) { return w->palette().color(QPalette::Window); }

void setInputMethod(QWidget *w, bool on)
{
    if (auto *box = qobject_cast<TextBox *>(w))
        box->setInputMethodAllowed(on);
    else
        w->setAttribute(Qt::WA_InputMethodEnabled, on);
}

void Button::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

Button *button(QWidget *parent, const char *name, const QString &caption, Twips at)
{
    auto *b = place(new Button(caption, parent), name, at);
    b->setAutoDefault(false);
    return b;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, Twips at)
{
    return place(new QGroupBox(caption, parent), name, at);
}

TextBox *textBox(QWidget *parent, const char *name, Twips at) { return place(new TextBox(parent), name, at); }

QLabel *label(QWidget *parent, const char *name, const QString &text, Twips at)
{
    return place(new QLabel(text, parent), name, at);
}

QComboBox *comboBox(QWidget *parent, const char *name, Twips at)
{
    auto *c = place(new QComboBox(parent), name, at);
    c->setEditable(true);
    c->setLineEdit(new TextBox(c));
    c->setInsertPolicy(QComboBox::NoInsert); // the list is fixed; typed text stays text
    c->setCompleter(nullptr);                // and is never completed into an item
    return c;
}

QWidget *line(QWidget *parent, const char *name, int x1, int x2, int y, QPalette::ColorRole role)
{
    auto *w = new QWidget(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(toPixels(x1), toPixels(y), toPixels(x2) - toPixels(x1) + 1, 1);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, systemColor(role));
    w->setPalette(p);
    w->setAutoFillBackground(true);
    return w;
}

QColor systemColor(QPalette::ColorRole role) { return QApplication::palette().color(role); }

} // namespace screens
