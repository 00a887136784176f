#pragma once

#include "engine/playback_state.h"

#include <cstdint>
#include <string>

// What the player's control bar shows and how it answers input, as plain values: the widget only
// paints these results and forwards them to the engine.
namespace movarin::controls {

// Seconds a key press moves the picture, and what the menu's Forward and Back do.
inline constexpr double kKeySeekSeconds = 5;
inline constexpr double kMenuSeekSeconds = 10;
// Volume is the player's scale, 0 to 100; one key press moves it by one step.
inline constexpr double kVolumeStep = 5;
using playback::kVolumeMax;
inline constexpr std::int64_t kHideAfterMs = 2000;

// "m:ss" below an hour, "h:mm:ss" from there on; whole seconds, rounded down. Nothing known
// (negative, NaN, infinite) reads "0:00".
std::string format_time(double seconds);

// Share of the duration already played, 0 to 1; 0 while the duration is unknown.
double played_fraction(double position, double duration);

using playback::clamped_volume;

// The filled length of a track, in whole pixels of a device with this ratio to the bar's own
// pixels: the bar then draws the same picture for every fraction that rounds alike, and only a
// change of this length needs a repaint.
int fill_pixels(int trackWidth, double fraction, double devicePixelRatio);

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool contains(int px, int py) const {
        return !empty() && px >= x && px < x + width && py >= y && py < y + height;
    }
};

// Where each part of the bar goes for a bar of the given size. A narrow bar first drops the
// volume slider, then the times; play, seek and mute always stay. Parts left out are empty.
struct BarLayout {
    Rect play;
    Rect time;
    Rect seek;
    Rect mute;
    Rect volume;
};
BarLayout layout_bar(int width, int height, int timeTextWidth);

enum class BarPart { None, Play, Seek, Mute, Volume };
BarPart part_at(const BarLayout& layout, int x, int y);

// Fraction of a track that the pointer at x stands for, 0 to 1.
double fraction_on(const Rect& track, int x);

// Decides when the bar shows: any activity shows it, it hides kHideAfterMs after the last one
// or at once when the pointer leaves, and it stays while a button is held on it (a drag).
class BarVisibility {
public:
    explicit BarVisibility(std::int64_t hideAfterMs = kHideAfterMs) : m_hideAfter(hideAfterMs) {}

    void activity(std::int64_t nowMs);
    void left();
    void pressed(std::int64_t nowMs);
    void released(std::int64_t nowMs);

    bool visible(std::int64_t nowMs) const;
    // How long until the bar hides by itself; -1 when it is hidden or held.
    std::int64_t msUntilHide(std::int64_t nowMs) const;

    std::int64_t hideAfter() const { return m_hideAfter; }
    void setHideAfter(std::int64_t ms) { m_hideAfter = ms; }

private:
    std::int64_t m_hideAfter;
    bool m_shown = false;
    bool m_held = false;
    std::int64_t m_last = 0;
};

} // namespace movarin::controls
