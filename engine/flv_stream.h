#pragma once

#include <mpv/stream_cb.h>

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace movarin::flv {
class SeekableStream;
}

// The bridge between the engine and the repairing FLV reader: FLV files reach the engine under
// a protocol of our own, and every read goes through the reader. Internal to the engine.
namespace movarin::detail {

inline constexpr char kFlvProtocol[] = "movarin-flv";
inline constexpr char kFlvPrefix[] = "movarin-flv://";
// Named pipes, whatever they carry: FLV through the reader for pipes, the rest as it comes.
inline constexpr char kPipeProtocol[] = "movarin-pipe";
inline constexpr char kPipePrefix[] = "movarin-pipe://";

// The timeline of the FLV file the engine reads now, as its tags tell it; any thread may ask.
class FlvTimeline {
public:
    // Seconds; 0 while no FLV file is open.
    double duration() const;
    // Where a seek to the end lands: the last frame's time.
    double lastFrame() const;
    void setCurrent(std::weak_ptr<const flv::SeekableStream> stream);

private:
    std::shared_ptr<const flv::SeekableStream> current() const;
    mutable std::mutex m_mutex;
    std::weak_ptr<const flv::SeekableStream> m_current;
};

// What the open callback is given. `closing` outlives every stream and turns true when the engine
// shuts down: a long scan of garbage, even the one that opening makes, then stops (the engine's own
// cancel stops the rest). `timeline` learns of each stream opened.
struct FlvOpening {
    const std::atomic<bool>* closing = nullptr;
    FlvTimeline* timeline = nullptr;
};

// The engine's open callback for kFlvProtocol; `opening` is a FlvOpening. It and the callbacks it
// hands out run on the engine's demuxer thread and never call back into it.
int openFlvStream(void* opening, char* uri, mpv_stream_cb_info* info);
// The same for kPipeProtocol: opens without waiting for the writer, and never seeks.
int openPipeStream(void* opening, char* uri, mpv_stream_cb_info* info);

// What the engine is asked to open for a path: FLV files through the repairing reader, named
// pipes through the reader for pipes, anything else as it is.
std::string engineAddress(const std::string& path);
// The file as the caller named it, byte for byte, however the engine reads it.
QString callerPath(std::string_view engineName);

} // namespace movarin::detail
