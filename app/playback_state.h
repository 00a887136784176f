#pragma once

// Decisions about what a playing file has turned into, as plain values.
namespace movarin::playback {

// Tells a file that keeps looping over nothing from one that plays. A file cut short or emptied
// while it plays leaves the engine restarting it in a tight loop, each pass finding no frame
// and no position; a real file, however short, has a position after a restart.
class EmptyLoopGuard {
public:
    static constexpr int kLimit = 5;

    // A playback restart (a loop, a seek or the start); true once the file has restarted
    // kLimit times in a row without a position.
    bool restarted(bool positionKnown) {
        m_empty = positionKnown ? 0 : m_empty + 1;
        return m_empty >= kLimit;
    }
    void reset() { m_empty = 0; }

private:
    int m_empty = 0;
};

} // namespace movarin::playback
