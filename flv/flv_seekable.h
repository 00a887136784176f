#pragma once

#include "flv/flv_metadata.h"
#include "flv/flv_repair.h"
#include "flv/flv_timeline.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

// The stream the engine reads an FLV file as: the repaired file, with an onMetaData that tells
// the true length and, for a file without a keyframe index, an index that makes every seek a
// jump. Finding each keyframe would mean walking every tag of the file before the first frame;
// instead the index holds a point every fraction of a second, each naming a window of its own
// far past the end of the real stream. The first read in a window finds, by bisection, the
// keyframe at or before its time, and the window shows the repaired file from there on. The
// demuxer so lands next to any target after a few small reads, however long the file.
// A file with an index of its own keeps it and is read as it is. Plain C++: no Qt, no engine.
namespace movarin::flv {

class SeekableStream {
public:
    // The source must outlive the stream.
    explicit SeekableStream(ByteSource& source);
    ~SeekableStream();
    SeekableStream(const SeekableStream&) = delete;
    SeekableStream& operator=(const SeekableStream&) = delete;

    bool valid() const { return m_reader.valid(); }
    std::int64_t read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length);
    // Of the stream from its start, windows left out; at least what reads will give.
    std::uint64_t size();

    // The length to show, in seconds; 0 while unknown. Any thread may ask.
    double duration() const { return m_duration.load(std::memory_order_relaxed); }
    // The time of the last frame, where a seek to the end lands: the length less a frame.
    double lastFrame() const { return m_lastFrame.load(std::memory_order_relaxed); }

    // Each window starts this far after the one before; the real stream ends before the first.
    static constexpr std::uint64_t kWindow = std::uint64_t(1) << 40;
    // Most index points; a longer file gets them further apart.
    static constexpr std::size_t kMaxPoints = 16384;
    static constexpr std::uint32_t kMinStepMs = 500;

    struct Facts {
        bool ownIndex = false;        // the file had a keyframe index
        std::size_t points = 0;       // index points we added
        std::uint32_t stepMs = 0;     // their spacing
        std::uint64_t metadataAt = 0; // where our onMetaData starts in the stream
        std::uint64_t metadataSize = 0;
        std::uint64_t windowsOpened = 0;
        std::uint64_t repairedOffsets = 0;
        TimelineSpan span;
        double fileDuration = 0; // what the file's own metadata said
    };
    Facts facts() const;

private:
    struct Window;
    void setUp();
    KeyframeIndex windowIndex(std::uint32_t firstTime, std::uint32_t secondTime);
    // Shows the length the span and the file's metadata give, and returns it.
    double takeLength();
    void refreshTail();
    Window& window(std::uint64_t k);
    std::int64_t readMain(std::uint64_t offset, std::uint8_t* buffer, std::size_t length);

    ByteSource& m_source;
    RepairingReader m_reader;
    TagPeek m_peek;
    CompositionRepair m_composition;

    // The repaired stream's own metadata tag, [m_oldAt, m_oldEnd), is shown as m_metadata.
    std::uint64_t m_oldAt = 0;
    std::uint64_t m_oldEnd = 0;
    std::vector<std::uint8_t> m_metadata;
    MetaData m_fileMeta;

    std::uint8_t m_flags = 0;
    bool m_video = false;
    std::uint64_t m_rawFirstTag = 0;
    std::uint32_t m_gridStart = 0;
    std::uint32_t m_stepMs = 0;
    std::size_t m_points = 0;
    std::uint64_t m_lastWindow = 0;
    std::map<std::uint64_t, std::uint64_t> m_resolved;
    std::unique_ptr<Window> m_windows[2];
    std::uint64_t m_windowsOpened = 0;

    TimelineSpan m_span;
    std::atomic<double> m_duration{0};
    std::atomic<double> m_lastFrame{0};
    std::uint64_t m_tailSize = 0;
    std::chrono::steady_clock::time_point m_tailChecked;
};

} // namespace movarin::flv
