#pragma once

#include <QObject>
#include <QString>

namespace movarin {

enum class PlaybackStatus { Stopped, Playing, Paused };

// Everything the player reports about what plays, in its own terms.
struct PlayerState {
    // The file that plays; empty while nothing is open (before the first file, after a failure).
    QString path;
    QString title;
    bool paused = false;
    // Stopped on the last picture of a file that does not loop.
    bool atEnd = false;
    // Seconds; 0 while unknown.
    double position = 0;
    double duration = 0;
    // 0 to 100.
    double volume = 100;
    bool muted = false;
    bool looping = true;
    bool hasVideo = false;

    PlaybackStatus status() const {
        if (path.isEmpty() || atEnd)
            return PlaybackStatus::Stopped;
        return paused ? PlaybackStatus::Paused : PlaybackStatus::Playing;
    }
    bool operator==(const PlayerState&) const = default;
};

// The player's verbs and typed state, whatever plays behind them. Verbs are requests: the state
// changes when the player reports that it has, so quick repeated requests still add up. A
// request the player cannot carry out changes nothing.
class Player : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const PlayerState& state() const { return m_state; }
    PlaybackStatus status() const { return m_state.status(); }
    QString path() const { return m_state.path; }
    QString title() const { return m_state.title; }
    bool paused() const { return m_state.paused; }
    bool atEnd() const { return m_state.atEnd; }
    double position() const { return m_state.position; }
    double duration() const { return m_state.duration; }
    double volume() const { return m_state.volume; }
    bool muted() const { return m_state.muted; }
    bool looping() const { return m_state.looping; }
    bool hasVideo() const { return m_state.hasVideo; }

    // Replaces whatever plays and starts playing the file at once; throws when it cannot.
    virtual void load(const QString& path) = 0;
    // At the end of a file, starts it over.
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void togglePause() = 0;
    virtual void seekTo(double seconds) = 0;
    virtual void seekBy(double seconds) = 0;
    virtual void setVolume(double volume) = 0;
    virtual void changeVolume(double by) = 0;
    virtual void setMuted(bool muted) = 0;
    virtual void toggleMute() = 0;
    virtual void setLooping(bool looping) = 0;

signals:
    void statusChanged(PlaybackStatus status);
    void positionChanged(double seconds);
    void durationChanged(double seconds);
    void volumeChanged(double volume);
    void mutedChanged(bool muted);
    void loopingChanged(bool looping);
    void hasVideoChanged(bool hasVideo);
    // Path or title.
    void mediaChanged();
    // The position jumped (a seek, or a start over), as opposed to moving on by playing.
    void seeked(double seconds);
    // After any of the above but seeked.
    void stateChanged();

protected:
    // Takes the new state and signals what differs from the old.
    void report(const PlayerState& next);

private:
    PlayerState m_state;
};

} // namespace movarin
