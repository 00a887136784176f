#pragma once

#include "engine/player.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace movarin {

// The screensaver is held off only while a picture moves: not for sound alone, not while paused
// or stopped.
bool should_inhibit_screensaver(PlaybackStatus status, bool hasVideo);

// The name MPRIS gives a playback status.
QString mpris_playback_status(PlaybackStatus status);

// Microseconds, as MPRIS counts time; out-of-range and unknown values read 0.
std::int64_t to_microseconds(double seconds);

// What the desktop sees of the player, over the session bus: the MPRIS2 interfaces
// (org.mpris.MediaPlayer2.movarin) for media keys and desktop widgets, and the screensaver held
// off while a video plays. Without a session bus, or without a screensaver service on it, it
// does nothing and says nothing.
class DesktopIntegration : public QObject {
    Q_OBJECT
public:
    struct Window {
        std::function<void()> raise;
        std::function<void()> quit;
    };
    explicit DesktopIntegration(Window window, QObject* parent = nullptr);
    // Releases the screensaver and leaves the bus.
    ~DesktopIntegration() override;

    // Starts following `player`; until then the desktop sees a stopped player with no file.
    void setPlayer(Player* player);

    // The bus name taken for MPRIS; empty when none could be.
    QString mprisServiceName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace movarin
