#pragma once

#include "engine/player.h"
#include "window/control_bar_state.h"
#include "window/player_actions.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QMenu;
class QTimer;

namespace movarin {

// The player's own controls inside the playback host: a bar laid over the host's bottom edge
// (play/pause, seek bar with times, mute, volume), the keys, and the right-click menu. It never
// takes part in a layout, so the host and the window keep their sizes. It only shows what the
// player reports and turns input into the player's verbs; nothing here logs or asks the user
// anything.
class PlaybackControls : public QWidget {
    Q_OBJECT
public:
    // Lays itself over `host`, follows its size, pointer and right-click, and takes the player
    // keys that reach the host's window.
    explicit PlaybackControls(QWidget* host);
    ~PlaybackControls() override;

    // Starts following and driving `player`; until then every action does nothing.
    void attach(Player* player);
    bool attached() const { return !m_player.isNull(); }
    // What the bar shows: the player's last report, or nothing played yet.
    const PlayerState& shown() const;

    // Acts on a player key; false when the key is not one of them.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat);

    QMenu* contextMenu() const { return m_menu; }
    PlayerActions* actions() const { return m_actions; }
    QAction* playAction() const { return m_actions->action(PlayerAction::Play); }
    QAction* loopAction() const { return m_actions->action(PlayerAction::Loop); }
    QAction* rewindAction() const { return m_actions->action(PlayerAction::Rewind); }
    QAction* forwardAction() const { return m_actions->action(PlayerAction::Forward); }
    QAction* backAction() const { return m_actions->action(PlayerAction::Back); }
    QAction* fullScreenAction() const { return m_actions->action(PlayerAction::FullScreen); }

    // The time-out and the clock (milliseconds) behind it; tests shorten or replace them.
    void setHideDelay(int ms);
    void setClock(std::function<qint64()> clock);
    // Shows or hides the bar as the clock now says.
    void updateVisibility();
    // Keeps the bar in view whatever the pointer does (a file without a picture).
    void setPinned(bool pinned);
    bool pinned() const { return m_pinned; }
    // What the bar shows as elapsed and total time.
    QString timeText() const;
    controls::BarLayout barLayout() const;

    static constexpr int kBarHeight = 26;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, Seek, Volume };

    // What the bar draws of the player's state. The engine reports the position with every
    // frame, and most reports leave the bar's picture as it was: those repaint nothing.
    struct Face {
        bool playing = false;
        QString time;
        int seekFill = 0;
        bool knob = false;
        bool muted = false;
        int volumeFill = 0;
        bool operator==(const Face&) const = default;
    };
    Face face(const controls::BarLayout& layout) const;

    void onPlayerState();
    void watchKeysOf(QWidget* window);
    void placeOverHost();
    void activity();
    void dragTo(int x);
    void popupMenu(const QPoint& globalPos);

    QWidget* m_host;
    QPointer<QWidget> m_keyWindow;
    QPointer<Player> m_player;
    PlayerActions* m_actions = nullptr;
    QMenu* m_menu = nullptr;
    QTimer* m_hideTimer = nullptr;
    std::function<qint64()> m_clock;
    controls::BarVisibility m_visibility;

    bool m_pinned = false;
    Drag m_drag = Drag::None;
    double m_dragFraction = 0;
    double m_dragVolume = 0;
    Face m_painted;
};

} // namespace movarin
