#include "screens/common/centring.h"

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace common {

namespace {

// The frame last seen on a window of the application: the guess for the
// next window, whose own frame is not known before it is on the screen.
QMargins g_lastFrame;

QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

// Places the client area so that the client area with `frame` around it is
// centred. The client's own geometry is set, so that the position does not
// depend on how the window system reads a position that includes a frame.
void place(QWidget *window, const QMargins &frame)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect outer(QPoint(), window->size().grownBy(frame));
    outer.moveCenter(area.center());
    // A window larger than the area (a large scaling on a small screen)
    // keeps its title bar and its left edge on the screen, where the user
    // can take hold of it; the rest runs past the right and bottom edges.
    outer.moveTopLeft(QPoint(std::max(outer.left(), area.left()), std::max(outer.top(), area.top())));
    window->setGeometry(QRect(outer.topLeft() + QPoint(frame.left(), frame.top()), window->size()));
}

// A frame as the window system reports it once the window is framed. While
// a window manager is still putting its frame around the window, the
// window system may report nothing (null) or nonsense (negative borders).
bool known(const QMargins &frame)
{
    return !frame.isNull() && frame.left() >= 0 && frame.top() >= 0 && frame.right() >= 0 && frame.bottom() >= 0;
}

// Watches one window from its first showing until its frame is known, and
// places it again whenever the frame turns out different from the one it
// was placed with. The watch ends two seconds after the first showing, so
// that nothing moves a window the user has begun to use. A child of the window.
class Centring : public QObject {
public:
    explicit Centring(QWidget *window) : QObject(window), m_window(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Show) {
            // Shown, not yet on the screen: its frame may still be unknown.
            m_window->removeEventFilter(this);
            const QMargins own = frameOf(m_window);
            m_used = known(own) ? own : g_lastFrame;
            place(m_window, m_used);
            if (QWindow *handle = m_window->windowHandle()) {
                m_handle = handle;
                handle->installEventFilter(this);
                QTimer::singleShot(2000, this, [this] {
                    if (m_handle)
                        m_handle->removeEventFilter(this);
                });
            }
        } else if (watched == m_handle && (event->type() == QEvent::Expose || event->type() == QEvent::Move
                                           || event->type() == QEvent::Resize)) {
            const QMargins own = frameOf(m_window);
            if (known(own) && own != m_used) {
                m_used = g_lastFrame = own;
                place(m_window, own);
            }
        }
        return false;
    }

private:
    QWidget *m_window;
    QPointer<QWindow> m_handle;
    QMargins m_used;
};

} // namespace

void centreOnScreen(QWidget *window) { new Centring(window); }

} // namespace common
