#pragma once

#include "window/player_view.h"
#include "window/twips.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <optional>

class QMainWindow;
class QWindow;
class QWidget;

namespace movarin {

class PlaybackHost;

// The picture over the whole window while the window is full screen or maximised: the host
// letterboxed in the video area, the window's fixed size let go, and all of it put back when the
// window is normal again. Full screen is the player's own; a maximised or full-screen state that
// the window system imposes (a compositor's key, a decoration's button) is followed the same way,
// so the window always takes the size it is given.
class FullView : public QObject, public PlayerView {
    Q_OBJECT
public:
    // `restore` lays the window out at its fitted size again and, given a place, puts the frame
    // back there (the frame's top-left corner on the screen).
    FullView(QMainWindow* window, QWidget* videoArea, PlaybackHost* host,
             std::function<void(std::optional<QPoint> frame)> restore);

    bool fullScreen() const override;
    void setFullScreen(bool on) override;
    // The window's size and place wait while the picture fills it; true then, and the wait is
    // remembered so that leaving puts the latest fit in place.
    bool holdGeometry();
    // Pixels the video area may take at most with the window's frame at `frame`: the screen's
    // available area from there, less the frame and the menu bar. The frame's place is the
    // compositor's under Wayland, so there the whole available area counts.
    twips::PixelSize roomAt(twips::PixelPoint frame) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // `confirmed`: the window system's report, not a request of ours or a decoration's.
    void follow(Qt::WindowStates states, bool confirmed);
    void enter();
    void leave();
    void watchHandle();

    QMainWindow* m_window;
    QWidget* m_videoArea;
    PlaybackHost* m_host;
    std::function<void(std::optional<QPoint>)> m_restore;
    QPointer<QWindow> m_watchedHandle;
    bool m_active = false;
    bool m_held = false;
    // Where the frame stood when the picture began to fill the window.
    QPoint m_place;
};

} // namespace movarin
