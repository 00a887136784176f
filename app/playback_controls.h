#pragma once

#include "app/control_bar_state.h"

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <functional>

class QAction;
class QMenu;
class QTimer;

namespace movarin {

class MpvEngine;

// The player's own controls inside the playback host: a bar laid over the host's bottom edge
// (play/pause, seek bar with times, mute, volume), the keys, and the right-click menu. It never
// takes part in a layout, so the host and the window keep their sizes. Nothing here logs or
// asks the user anything: a refused engine call simply changes nothing.
class PlaybackControls : public QWidget {
    Q_OBJECT
public:
    // Lays itself over `host`, follows its size, pointer and right-click, and takes the player
    // keys that reach the host's window.
    explicit PlaybackControls(QWidget* host);
    ~PlaybackControls() override;

    // Starts following and driving `engine`; until then every action does nothing.
    void attach(MpvEngine* engine);
    bool attached() const { return !m_engine.isNull(); }

    // The engine's state as it last reported it.
    bool paused() const { return m_paused; }
    double position() const { return m_position; }
    double duration() const { return m_duration; }
    double volume() const { return m_volume; }
    bool muted() const { return m_muted; }
    bool looping() const { return m_looping; }

    // Each does nothing before a movie is set.
    void togglePause();
    void setPaused(bool paused);
    void seekBy(double seconds);
    void seekTo(double seconds);
    void setVolume(double volume);
    void stepVolume(int steps);
    void setMuted(bool muted);
    void toggleMute();
    void setLooping(bool looping);

    // Acts on a player key; false when the key is not one of them.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat);

    QMenu* contextMenu() const { return m_menu; }
    QAction* playAction() const { return m_play; }
    QAction* loopAction() const { return m_loop; }
    QAction* rewindAction() const { return m_rewind; }
    QAction* forwardAction() const { return m_forward; }
    QAction* backAction() const { return m_back; }

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

signals:
    // The engine reported a change of something the bar or the menu shows.
    void stateChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, Seek, Volume };

    void onProperty(const QString& name, const QVariant& value);
    void send(const QStringList& command);
    void sendProperty(const char* name, const QVariant& value);
    void watchKeysOf(QWidget* window);
    void placeOverHost();
    void activity();
    void syncActions();
    void dragTo(int x);
    void popupMenu(const QPoint& globalPos);

    QWidget* m_host;
    QPointer<QWidget> m_keyWindow;
    QPointer<MpvEngine> m_engine;
    QMenu* m_menu = nullptr;
    QAction* m_play = nullptr;
    QAction* m_loop = nullptr;
    QAction* m_rewind = nullptr;
    QAction* m_forward = nullptr;
    QAction* m_back = nullptr;
    QTimer* m_hideTimer = nullptr;
    std::function<qint64()> m_clock;
    controls::BarVisibility m_visibility;

    bool m_paused = false;
    bool m_eof = false;
    double m_position = 0;
    double m_duration = 0;
    double m_volume = controls::kVolumeMax;
    bool m_muted = false;
    bool m_looping = true;
    bool m_pinned = false;

    Drag m_drag = Drag::None;
    double m_dragFraction = 0;
    double m_dragVolume = 0;
};

} // namespace movarin
