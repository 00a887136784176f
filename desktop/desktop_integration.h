#pragma once

#include "engine/player.h"

#include <QObject>

class QDBusConnection;
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

// Whether the environment names a session bus, or the user's runtime folder holds one.
bool session_bus_configured();

// Whether a session bus is set up and greets a client within `timeoutMs`; safe on any thread.
// libdbus, and Qt through it, would wait for ever on a bus that accepts and never answers.
bool session_bus_answers(int timeoutMs);

// What the desktop sees of the player, over the session bus: the MPRIS2 interfaces
// (org.mpris.MediaPlayer2.movarin) for media keys and desktop widgets, and the screensaver held
// off while a video plays. Without a session bus, or without a screensaver service on it, it
// does nothing and says nothing. The bus is looked for off the GUI thread: a bus that does not
// answer delays nothing, and MPRIS joins when it does.
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
    // Once the session bus has answered: MPRIS and the screensaver hold join.
    void attach(QDBusConnection bus);
    void requestName(int attempt);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace movarin
