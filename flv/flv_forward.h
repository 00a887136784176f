#pragma once

#include "flv/flv_repair.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The repairing reader for a stream that can be read only once, in order: a named pipe. It
// makes what the repairing reader makes of a file, as far as that can be known without looking
// ahead: every PreviousTagSize rewritten, garbage between tags dropped by resyncing on the next
// plausible tag, a tag cut off at the end left out, timestamps that run backwards carried on
// forwards. The header's flags stay as they came. A run of garbage longer than the file
// reader's limit, or more garbage in all than that and than the tags held, ends the stream
// there: garbage costs bounded work, whatever keeps coming. A stream without the FLV signature
// passes as it is. Memory stays within about two of the largest tags.
// Plain C++: no Qt, no engine.
namespace movarin::flv {

class StreamSource {
public:
    virtual ~StreamSource() = default;
    // Up to `length` bytes, waiting for at least one: the count, 0 at the end, -1 on a read
    // error or once the reader has given up waiting.
    virtual std::int64_t read(std::uint8_t* buffer, std::size_t length) = 0;
};

class ForwardReader {
public:
    // The source must outlive the reader.
    explicit ForwardReader(StreamSource& source) : m_source(source) {}

    // The next bytes of the corrected stream: the count, 0 at the end, -1 on a read error.
    std::int64_t read(std::uint8_t* buffer, std::size_t length);

    struct Stats {
        std::uint64_t tags = 0;
        std::uint64_t keptBytes = 0;
        std::uint64_t droppedBytes = 0;
        std::uint64_t resyncs = 0;
        // The garbage ended the stream.
        bool gaveUp = false;
    };
    Stats stats() const { return m_stats; }

private:
    enum class State { Start, Tags, Raw, End };
    void begin();
    void nextTag();
    void resync();
    struct StreamBytes;
    bool plausibleAt(std::size_t at, bool strict, std::uint32_t& dataSize);
    void giveOut(std::uint32_t dataSize);
    // At least `count` bytes from m_head in m_buffer, reading more as needed; false at the end
    // or on an error (then m_failed is set).
    bool fill(std::size_t count);
    void drop(std::size_t count);
    std::size_t buffered() const { return m_tail - m_head; }
    const std::uint8_t* data() const { return m_buffer.data() + m_head; }

    StreamSource& m_source;
    State m_state = State::Start;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_head = 0;
    std::size_t m_tail = 0;
    bool m_ended = false;
    bool m_failed = false;
    // Input bytes still to skip: the PreviousTagSize after the tag last given out.
    std::size_t m_skip = 0;
    // What waits to be given out: m_direct bytes of m_buffer from m_head, then m_made[m_madeAt,
    // m_madeLength).
    std::size_t m_direct = 0;
    std::uint8_t m_made[13] = {};
    std::size_t m_madeAt = 0;
    std::size_t m_madeLength = 0;
    Stats m_stats;
    TagClock m_clocks[2]; // sound, picture
};

} // namespace movarin::flv
