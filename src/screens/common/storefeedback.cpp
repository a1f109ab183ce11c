#include "screens/common/storefeedback.h"

#include "screens/common/messages.h"
#include "store/connection.h"

#include <QGuiApplication>
#include <QWidget>

namespace screens {

void showWaitCursorWhileBusy()
{
    store::BusyWait::setObserver([](bool waiting) {
        if (waiting)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    });
}

ReadFailures::ReadFailures(QWidget *window) : QObject(window), m_window(window) {}

void ReadFailures::failed(const store::Error &error)
{
    if (m_standing && m_standing->message() == error.message())
        return;
    m_standing = error;
    if (!m_pending)
        QMetaObject::invokeMethod(this, &ReadFailures::report, Qt::QueuedConnection);
    m_pending = error;
}

std::chrono::milliseconds ReadFailures::allowance() const
{
    return m_standing ? std::chrono::milliseconds::zero() : store::BusyWait::limit();
}

void ReadFailures::report()
{
    if (!m_pending)
        return;
    const store::Error error = *m_pending;
    m_pending.reset();
    reportError(m_window ? m_window->window() : nullptr, error);
}

} // namespace screens
