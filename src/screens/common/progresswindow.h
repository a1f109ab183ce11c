#pragma once

#include <QDialog>

class QProgressBar;
class QPushButton;

namespace common {

// A small modal window that shows how far a long operation has come: the
// file it works on and a progress bar. It has no buttons and cannot be
// closed by the user; the operation closes it when done.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    ProgressWindow(QWidget *parent, const char *name, const QString &title, const QString &path, qint64 total);

    // Moves the bar and lets the window repaint; user input waits.
    void setDone(qint64 done);
    // For an operation that learns its total as it goes.
    void setTotal(qint64 total) { m_total = std::max<qint64>(total, 1); }
    // Adds the button 「キャンセル」; once it is pressed, cancelled() is true.
    // setDone() then lets the user's clicks through to the window.
    void allowCancel();
    bool cancelled() const { return m_cancelled; }

private:
    QProgressBar *m_bar;
    qint64 m_total;
    QPushButton *m_cancel = nullptr;
    bool m_cancelled = false;
};

} // namespace common
