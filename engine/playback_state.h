#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// Decisions about what a playing file has turned into, as plain values.
namespace movarin::playback {

// Volume is the player's scale, 0 to 100.
inline constexpr double kVolumeMax = 100;

// A volume within 0 and kVolumeMax; NaN is silence.
inline double clamped_volume(double volume) {
    return std::isnan(volume) ? 0 : std::clamp(volume, 0.0, kVolumeMax);
}

// Tells a file that keeps looping over nothing from one that plays. A file cut short or emptied
// while it plays leaves the engine restarting it in a tight loop, each pass finding no data at
// all; a real file, however short, has data after a restart, and a person seeking through a
// file whose data gives no times does not restart it several times within a moment.
class EmptyLoopGuard {
public:
    static constexpr int kLimit = 5;
    static constexpr std::int64_t kWithinMs = 2000;

    // A playback restart (a loop, a seek or the start); true once the file has restarted
    // kLimit times in a row without data, all within kWithinMs.
    bool restarted(bool hasData, std::int64_t nowMs) {
        if (hasData) {
            m_empty = 0;
            return false;
        }
        if (m_empty == 0 || nowMs - m_firstEmptyMs > kWithinMs) {
            m_empty = 0;
            m_firstEmptyMs = nowMs;
        }
        return ++m_empty >= kLimit;
    }
    void reset() { m_empty = 0; }

private:
    int m_empty = 0;
    std::int64_t m_firstEmptyMs = 0;
};

} // namespace movarin::playback
