#pragma once

#include "engine/player.h"

#include <QStringList>

#include <cmath>

namespace movarin::testing {

// A player with no engine behind it: notes each verb it is asked for, "seekBy(-5)", and changes
// nothing until the test tells it what to report. For tests of what listens to a player, where
// decoding a real file would only add time and chance.
class FakePlayer : public Player {
public:
    QStringList calls;
    void set(const PlayerState& state) { report(state); }

    void load(const QString&) override { note(__func__); }
    void play() override { note(__func__); }
    void pause() override { note(__func__); }
    void togglePause() override { note(__func__); }
    void seekTo(double s) override { note(__func__, s); }
    void seekBy(double s) override { note(__func__, s); }
    void setVolume(double v) override { note(__func__, v); }
    void changeVolume(double by) override { note(__func__, by); }
    void setMuted(bool m) override { note(__func__, m); }
    void toggleMute() override { note(__func__); }
    void setLooping(bool l) override { note(__func__, l); }

private:
    // Pointer positions are whole pixels; the tracks are wide enough that rounding finds the
    // value meant.
    void note(const char* verb, double value) {
        calls << QStringLiteral("%1(%2)").arg(verb).arg(std::lround(value));
    }
    void note(const char* verb) { calls << QStringLiteral("%1()").arg(verb); }
};

} // namespace movarin::testing
