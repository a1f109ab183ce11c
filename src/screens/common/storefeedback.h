#pragma once

#include "store/error.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <optional>

class QWidget;

// What the user sees of a store that has to wait or cannot read.
namespace screens {

// Shows the wait cursor whenever the store waits for a file that another
// program holds locked. Called once at start-up.
void showWaitCursorWhileBusy();

// Rows that could not be read while a screen showed them: the list's grid
// while it paints, the record panel while it follows the current book.
// Such a place cannot stop for a message box, so it tells this object,
// which reports the failure once, in a message box over the window, as soon
// as the current paint or handler is over. Further failures for the same
// reason add no message until a read succeeds again; meanwhile reads do not
// wait for a locked file again (allowance()), so the window stays
// responsive, and the next read after the cause is gone shows the real
// rows.
class ReadFailures : public QObject {
    Q_OBJECT
public:
    explicit ReadFailures(QWidget *window);

    // A read failed; its rows are shown empty and marked meanwhile.
    void failed(const store::Error &error);
    // A read succeeded: the cause is gone.
    void succeeded() { m_standing.reset(); }
    // The message of the failure that stands, or an empty text.
    QString standingMessage() const { return m_standing ? m_standing->message() : QString(); }
    // How long the next reads may wait for a locked file: none while a
    // failure stands.
    std::chrono::milliseconds allowance() const;

private:
    void report();

    QPointer<QWidget> m_window;
    std::optional<store::Error> m_standing;
    std::optional<store::Error> m_pending;
};

} // namespace screens
