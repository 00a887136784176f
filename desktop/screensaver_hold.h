#pragma once

#include "engine/player.h"

#include <QObject>

#include <functional>

namespace movarin {

// The screensaver is held off only while a picture moves: not for sound alone, not while paused
// or stopped.
bool should_inhibit_screensaver(PlaybackStatus status, bool hasVideo);

// Holds the screensaver, and with it the display's sleep, off while wanted: over the session bus
// on Linux (screensaver_hold_dbus.h), by the thread's execution state on Windows
// (screensaver_hold_win.h). One that cannot hold holds nothing and says nothing.
class ScreenSaverHold : public QObject {
public:
    virtual void want(bool on) = 0;
};

// Wants `hold()` exactly while `player` shows a moving picture, from now on; a null hold is
// skipped. The connections end with `context`, or when it disconnects from the player.
void hold_while_picture_moves(Player* player, QObject* context,
                              std::function<ScreenSaverHold*()> hold);

} // namespace movarin
