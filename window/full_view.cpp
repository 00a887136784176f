#include "window/full_view.h"

#include "window/playback_controls.h"
#include "window/playback_host.h"
#include "window/window_manager.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMargins>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace movarin {

namespace {

constexpr Qt::WindowStates kFilling = Qt::WindowFullScreen | Qt::WindowMaximized;

bool underWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QMargins frameOf(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

} // namespace

FullView::FullView(QMainWindow* window, QWidget* videoArea, PlaybackHost* host,
                   std::function<void(std::optional<QPoint>)> restore)
    : QObject(window), m_window(window), m_videoArea(videoArea), m_host(host),
      m_restore(std::move(restore)) {
    m_window->installEventFilter(this);
    m_host->controls()->actions()->setView(this);
    watchHandle();
}

bool FullView::fullScreen() const {
    return m_window->windowState() & Qt::WindowFullScreen;
}

void FullView::setFullScreen(bool on) {
    if (on == fullScreen())
        return;
    const Qt::WindowStates now = m_window->windowState() & ~Qt::WindowMinimized;
    const Qt::WindowStates next = on ? now | Qt::WindowFullScreen : now & ~Qt::WindowFullScreen;
    // Under a window manager the state is its to grant, and a geometry of our own while it does
    // would count as the window leaving full screen. A manager may frame nothing, so ask
    // whether one runs, not whether the window has a frame.
    const bool unmanaged = on && QGuiApplication::platformName() == QLatin1String("xcb") &&
                           !x_window_manager_running(m_window->winId());
    // Let go of the fixed size first: a window manager refuses full screen to a window whose
    // hints say it cannot grow.
    if (on)
        follow(next, false);
    m_window->setWindowState(next);
    // An X server without a window manager leaves the state unheeded: cover the screen ourselves.
    if (unmanaged && m_window->screen() && m_window->windowHandle())
        m_window->windowHandle()->setGeometry(m_window->screen()->geometry());
}

bool FullView::holdGeometry() {
    if (m_active)
        m_held = true;
    return m_active;
}

twips::PixelSize FullView::roomAt(twips::PixelPoint frame) const {
    const QPoint at(frame.x, frame.y);
    QScreen* screen = underWayland() ? m_window->screen() : QGuiApplication::screenAt(at);
    if (!screen)
        screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect available = screen->availableGeometry();
    const QPoint from = underWayland() ? available.topLeft()
                                       : QPoint(std::max(at.x(), available.left()),
                                                std::max(at.y(), available.top()));
    // What the frame and the menu bar take; the frame is known once the window manager has
    // framed the window, and asked of the window system each time: the widget's copy lags.
    const QMargins margins = frameOf(m_window);
    const int menu =
        m_window->menuBar()->isVisibleTo(m_window) ? m_window->menuBar()->sizeHint().height() : 0;
    return {available.right() + 1 - from.x() - margins.left() - margins.right(),
            available.bottom() + 1 - from.y() - margins.top() - margins.bottom() - menu};
}

void FullView::watchHandle() {
    QWindow* handle = m_window->windowHandle();
    if (!handle || m_watchedHandle == handle)
        return;
    m_watchedHandle = handle;
    // A decoration's maximise button changes the state on the window handle at once, before the
    // compositor answers: following it there lets the size go in time for the answer.
    connect(handle, &QWindow::windowStateChanged, this,
            [this, handle] { follow(handle->windowStates(), false); });
    handle->installEventFilter(this);
}

bool FullView::eventFilter(QObject* watched, QEvent* event) {
    // The window system's own word on the state: a compositor's configure.
    if (watched == m_watchedHandle && event->type() == QEvent::WindowStateChange &&
        event->spontaneous())
        follow(m_watchedHandle->windowStates(), true);
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::WinIdChange:
        case QEvent::Show:
            watchHandle();
            break;
        case QEvent::WindowStateChange:
            follow(m_window->windowState(), event->spontaneous());
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void FullView::follow(Qt::WindowStates states, bool confirmed) {
    const bool fill = (states & kFilling) && !(states & Qt::WindowMinimized);
    if (fill && !m_active)
        enter();
    // A Wayland compositor checks every frame against the maximised or full-screen size it last
    // gave until the client has taken a new one: shrinking before its answer ends the
    // connection.
    else if (!fill && m_active && !(states & Qt::WindowMinimized) && (confirmed || !underWayland()))
        leave();
    if (m_active)
        m_window->menuBar()->setVisible(!(states & Qt::WindowFullScreen));
    m_host->controls()->actions()->sync();
}

void FullView::enter() {
    m_active = true;
    m_held = false;
    // The frame's place as the window system has it now; the widget's own copy of the frame
    // can be stale.
    if (const QWindow* handle = m_window->windowHandle())
        m_place = handle->framePosition();
    else
        m_place = m_window->pos();
    m_window->layout()->setSizeConstraint(QLayout::SetNoConstraint);
    m_window->setMinimumSize(0, 0);
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_videoArea->setMinimumSize(0, 0);
    m_videoArea->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_host->setFillParent(true);
}

void FullView::leave() {
    m_active = false;
    m_host->setFillParent(false);
    m_window->menuBar()->setVisible(true);
    m_window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    // Back where it stood, unless a new file moved it home meanwhile.
    const bool back = !m_held && !underWayland();
    m_held = false;
    m_restore(back ? std::optional<QPoint>(m_place) : std::nullopt);
}

} // namespace movarin
