#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

// Decisions about what a playing file has turned into, as plain values.
namespace movarin::playback {

// Volume is the player's scale, 0 to 100.
inline constexpr double kVolumeMax = 100;

// Whether the engine's loop setting means "loop": it reads "inf", a count, or "no"/false.
inline bool loop_enabled(std::string_view text) {
    if (text == "inf" || text == "yes" || text == "force")
        return true;
    long long count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    return error == std::errc() && end == text.data() + text.size() && count > 0;
}
inline bool loop_enabled(std::int64_t count) {
    return count > 0;
}

// A volume within 0 and kVolumeMax; NaN is silence.
inline double clamped_volume(double volume) {
    return std::isnan(volume) ? 0 : std::clamp(volume, 0.0, kVolumeMax);
}

// Tells a file that keeps looping over nothing from one that plays. A file cut short or emptied
// while it plays leaves the engine restarting it in a tight loop, each pass showing no picture
// and playing no sound; a real file, however short and whatever its timestamps, shows something
// between restarts, and a person seeking does not restart it several times within a moment.
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

// Tells a still picture from a clip: a file of one picture that loops is started over as fast
// as the engine can, showing the same picture each time. Looping it shows nothing new, so after
// kLimit such passes within kWithinMs it is better held. Seeks are no passes.
class StillLoopGuard {
public:
    static constexpr int kLimit = 5;
    static constexpr std::int64_t kWithinMs = 2000;

    // A restart after `frames` pictures; true once kLimit loops in a row each showed at most
    // one, all within kWithinMs.
    bool restarted(std::uint64_t frames, bool seek, std::int64_t nowMs) {
        if (seek || frames > 1) {
            m_still = 0;
            return false;
        }
        if (m_still == 0 || nowMs - m_firstMs > kWithinMs) {
            m_still = 0;
            m_firstMs = nowMs;
        }
        return ++m_still >= kLimit;
    }
    void reset() { m_still = 0; }

private:
    int m_still = 0;
    std::int64_t m_firstMs = 0;
};

// Tells a file that plays late from one that never will. Once loaded, a file shows a picture or
// plays sound within moments; a decoder that swallows every packet (a stream cut before its first
// keyframe, a damaged bitstream) gives neither, or sound without any picture, for as long as the
// file lasts and loops. Only time in which the file could have played counts: not while paused,
// nor while a stream that cannot be sought (a pipe) waits for its writer.
class FirstPlayGuard {
public:
    // Far beyond the slowest first frame of a file the engine can decode on a busy machine, and
    // still a wait a person accepts before being told.
    static constexpr std::int64_t kWithinMs = 5000;

    enum class Verdict {
        Wait,      // nothing yet, and still time
        Plays,     // a picture shown, or sound where no picture is expected
        NoPicture, // sound plays, but the video has shown nothing: it is sound only
        Unplayable // neither picture nor sound
    };

    struct Look {
        std::int64_t nowMs = 0;
        bool pictureShown = false;
        bool sound = false;
        // A video track is selected, so a picture is expected.
        bool videoExpected = false;
        bool paused = false;
        bool waitingForInput = false;
    };

    void start(std::int64_t nowMs) {
        m_lastMs = nowMs;
        m_countedMs = 0;
    }

    Verdict look(const Look& at) {
        if (at.pictureShown || (at.sound && !at.videoExpected))
            return Verdict::Plays;
        if (!at.paused && !at.waitingForInput)
            m_countedMs += std::max<std::int64_t>(0, at.nowMs - m_lastMs);
        m_lastMs = at.nowMs;
        if (m_countedMs < kWithinMs)
            return Verdict::Wait;
        return at.sound ? Verdict::NoPicture : Verdict::Unplayable;
    }

private:
    std::int64_t m_lastMs = 0;
    std::int64_t m_countedMs = 0;
};

} // namespace movarin::playback
