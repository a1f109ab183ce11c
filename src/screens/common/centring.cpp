#include "screens/common/centring.h"

#include <QEvent>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace screens {

namespace {

// The frame last seen on a window of the application: the guess for the
// next window, whose own frame is not known before it is on the screen.
QMargins g_lastFrame;

QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

// A window whose frame does not fit in `room` (a large scaling on a small
// screen) is made to fit: its fixed-position contents go into a scroll
// area, through which all of them stay within reach, and the window takes
// the size that fits. Windows that fit keep their described size. Only a
// main window's central widget can be scrolled; another window keeps its
// size (none of them is that large).
void fit(QWidget *window, const QSize &natural, const QSize &room)
{
    auto *main = qobject_cast<QMainWindow *>(window);
    if (!main)
        return;
    const QSize size = natural.boundedTo(room);
    auto *scroller = main->findChild<QScrollArea *>(QStringLiteral("scroller"), Qt::FindDirectChildrenOnly);
    if (size == natural && !scroller)
        return;
    if (!scroller) {
        scroller = new QScrollArea;
        scroller->setObjectName(QStringLiteral("scroller"));
        scroller->setFrameShape(QFrame::NoFrame);
        // Keeps the contents' own fixed size and the window's background.
        scroller->setWidgetResizable(false);
        scroller->setBackgroundRole(QPalette::Window);
        scroller->viewport()->setBackgroundRole(QPalette::Window);
        QWidget *contents = main->takeCentralWidget();
        scroller->setWidget(contents);
        main->setCentralWidget(scroller);
    }
    window->setFixedSize(size);
}

// Places the client area so that the client area with `frame` around it is
// centred, after making a window larger than the screen's available area
// fit into it (see fit). The client's own geometry is set, so that the
// position does not depend on how the window system reads a position that
// includes a frame.
void place(QWidget *window, const QSize &natural, const QMargins &frame)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    fit(window, natural, area.size().shrunkBy(frame));
    QRect outer(QPoint(), window->size().grownBy(frame));
    outer.moveCenter(area.center());
    // Should it still be larger (a window that cannot scroll), its title
    // bar and left edge stay on the screen, where the user can take hold of it.
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
            m_natural = m_window->size();
            place(m_window, m_natural, m_used);
            if (QWindow *handle = m_window->windowHandle()) {
                m_handle = handle;
                handle->installEventFilter(this);
                QTimer::singleShot(2000, this, [this] {
                    if (m_handle)
                        m_handle->removeEventFilter(this);
                });
            }
        } else if (watched == m_handle
                   && (event->type() == QEvent::Expose || event->type() == QEvent::Move
                       || event->type() == QEvent::Resize)) {
            const QMargins own = frameOf(m_window);
            if (known(own) && own != m_used) {
                m_used = g_lastFrame = own;
                place(m_window, m_natural, own);
            }
        }
        return false;
    }

private:
    QWidget *m_window;
    QPointer<QWindow> m_handle;
    QMargins m_used;
    QSize m_natural; // the window's size as described
};

} // namespace

void centreOnScreen(QWidget *window) { new Centring(window); }

} // namespace screens
