#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace screens {

// A small modal window that shows how far a long operation has come: what
// is happening (setText), the file it works on and a progress bar. Without
// allowCancel() it has no buttons and cannot be closed by the user; the
// operation closes it when done. With it, a "キャンセル" button (or Esc)
// asks the operation to stop: cancelled() turns true, and the operation
// polls it between steps (each setDone() lets the click through).
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    ProgressWindow(QWidget *parent, const char *name, const QString &title, const QString &path, qint64 total);

    // What the operation is doing, in a sentence ("変換しています…").
    void setText(const QString &text);
    // Adds the "キャンセル" button.
    void allowCancel();
    bool cancelled() const { return m_cancelled; }

    // Moves the bar and lets the window repaint (and, with a cancel button,
    // take a click); other windows' input waits.
    void setDone(qint64 done);
    // For an operation that learns its total as it goes.
    void setTotal(qint64 total) { m_total = std::max<qint64>(total, 1); }

signals:
    void cancelRequested();

protected:
    // Esc, and a close asked for by the window system (Alt+F4), cancel when
    // the window can be cancelled and are ignored otherwise: the window
    // closes only when the operation closes it.
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void cancel();

    QLabel *m_text;
    QProgressBar *m_bar;
    QPushButton *m_cancel = nullptr;
    qint64 m_total;
    bool m_cancelled = false;
};

} // namespace screens
