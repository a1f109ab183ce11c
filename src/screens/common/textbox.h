#pragma once

#include <QColor>
#include <QLineEdit>

namespace screens {

// A single-line text box that stays responsive whatever the length of its
// text.
//
// A line edit lays out and draws its whole text on every repaint, and it
// repaints on every blink of the cursor: with a million characters that
// keeps a processor busy while the box has the focus, each key takes
// seconds, and a few million characters freeze the window. So a value of
// up to EditableLength characters is edited as usual, while a longer one is
// kept whole but shown only by its first ShownLength characters and "…",
// greyed and read-only, with its length and what can be done in the
// tooltip: Delete or Backspace empty the box, which is then editable again.
// Text typed or pasted past the limit is kept the same way.
//
// value() is the whole text; it is the box's user property, through which
// a data control binds it, so a long value is written back unchanged.
class TextBox : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString value READ value WRITE setValue USER true)
public:
    static constexpr int EditableLength = 32767;
    static constexpr int ShownLength = 200;

    explicit TextBox(QWidget *parent = nullptr);

    virtual QString value() const { return m_long ? m_whole : text(); }
    void setValue(const QString &value);
    // Whether the box holds a value too long to edit, shown by its beginning.
    bool holdsLongValue() const { return m_long; }

    // Switches the input method off for this box (direct half-width input)
    // or lets it be used again. A line edit answers the input method's
    // question whether it takes composed text by itself, whatever its
    // WA_InputMethodEnabled attribute says, so the box answers it here.
    void setInputMethodAllowed(bool allowed);
    bool inputMethodAllowed() const { return m_imeAllowed; }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // The same question as input methods ask it by name (QInputMethod::
    // queryFocusObject), which reaches the line edit's own answer otherwise.
    Q_INVOKABLE QVariant inputMethodQuery(Qt::InputMethodQuery query, QVariant argument) const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void holdLongValue(const QString &value);

    bool m_long = false;
    bool m_imeAllowed = true;
    QString m_whole;
    QColor m_textColor; // while a long value is shown greyed
};

} // namespace screens
