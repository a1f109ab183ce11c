#include "screens/common/textbox.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLocale>
#include <QPalette>

#include <limits>

namespace screens {

TextBox::TextBox(QWidget *parent) : QLineEdit(parent)
{
    setMaxLength(std::numeric_limits<int>::max()); // no length limit
    // Typing, pasting from the menu or dropping text past the limit: the
    // line edit has laid it out once; from now on only its beginning.
    connect(this, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (text.size() > EditableLength)
            holdLongValue(text);
    });
}

void TextBox::setValue(const QString &value)
{
    if (value.size() > EditableLength) {
        holdLongValue(value);
        return;
    }
    if (m_long) {
        m_long = false;
        m_whole.clear();
        setReadOnly(false);
        setToolTip(QString());
        QPalette p = palette();
        p.setColor(QPalette::Text, m_textColor);
        setPalette(p);
    }
    setText(value);
}

void TextBox::holdLongValue(const QString &value)
{
    if (!m_long) {
        // Greyed, like text that cannot be changed.
        QPalette p = palette();
        m_textColor = p.color(QPalette::Text);
        p.setColor(QPalette::Text, QColor(Qt::darkGray));
        setPalette(p);
    }
    m_long = true;
    m_whole = value;
    setReadOnly(true);
    setText(value.left(ShownLength) + u'…');
    setCursorPosition(0);
    setToolTip(QStringLiteral("この項目は %1 文字あり、長すぎるため先頭だけを表示しています。ここでは書き換えられません"
                              "（Delete キーか BackSpace キーで空にできます）。修正しても内容はそのまま残ります。")
                   .arg(QLocale(QLocale::Japanese).toString(value.size())));
}

void TextBox::setInputMethodAllowed(bool allowed)
{
    m_imeAllowed = allowed;
    setAttribute(Qt::WA_InputMethodEnabled, allowed);
    // Hints for input methods that read them (on-screen keyboards, some
    // desktop input methods): plain Latin text, no prediction.
    setInputMethodHints(allowed ? Qt::ImhNone : Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
    // An input method already attached to the focused box is told at once.
    if (hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImEnabled | Qt::ImHints);
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const { return inputMethodQuery(query, QVariant()); }

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query, QVariant argument) const
{
    if (query == Qt::ImEnabled && !m_imeAllowed)
        return false;
    return QLineEdit::inputMethodQuery(query, argument);
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    if (m_long) {
        if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
            setValue(QString());
            emit textEdited(QString());
            event->accept();
            return;
        }
    } else if (event->matches(QKeySequence::Paste)) {
        // A paste that would go past the limit is not laid out at all.
        const QString clip = QApplication::clipboard()->text();
        const QString current = text();
        if (current.size() - selectedText().size() + clip.size() > EditableLength) {
            const int from = hasSelectedText() ? selectionStart() : cursorPosition();
            const int length = hasSelectedText() ? int(selectedText().size()) : 0;
            holdLongValue(QString(current).replace(from, length, clip));
            emit textEdited(m_whole);
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace screens
