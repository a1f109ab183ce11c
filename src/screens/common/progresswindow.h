#pragma once

#include <QDialog>

class QProgressBar;

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

private:
    QProgressBar *m_bar;
    qint64 m_total;
};

} // namespace common
