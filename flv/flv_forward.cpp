#include "flv/flv_forward.h"

#include "flv/flv_repair.h"

#include <algorithm>
#include <cstring>

namespace movarin::flv {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
// Largest tag a resync believes in, as for files.
constexpr std::uint32_t kMaxResyncDataSize = 8u << 20;
// A header that puts its first tag further on than this is not believed.
constexpr std::uint32_t kMaxHeaderGap = 64 * 1024;

std::uint32_t be24(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
}

void putBe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (24 - 8 * i));
}

bool knownType(std::uint8_t type) {
    return type == 8 || type == 9 || type == 18;
}

} // namespace

bool ForwardReader::fill(std::size_t count) {
    while (buffered() < count) {
        if (m_ended || m_failed)
            return false;
        if (m_buffer.size() - m_tail < kChunk) {
            if (m_head > 0) {
                std::memmove(m_buffer.data(), data(), buffered());
                m_tail -= m_head;
                m_head = 0;
            }
            if (m_buffer.size() - m_tail < kChunk)
                m_buffer.resize(std::max(m_buffer.size() * 2, m_tail + kChunk));
        }
        const std::int64_t r = m_source.read(m_buffer.data() + m_tail, m_buffer.size() - m_tail);
        if (r < 0)
            m_failed = true;
        else if (r == 0)
            m_ended = true;
        else
            m_tail += std::size_t(r);
    }
    return true;
}

void ForwardReader::drop(std::size_t count) {
    m_head += count;
}

void ForwardReader::begin() {
    if (!fill(kFileHeaderSize) && m_failed)
        return; // tried again on the next read
    if (buffered() < kFileHeaderSize || !has_signature(data(), buffered())) {
        m_state = State::Raw;
        m_direct = buffered();
        return;
    }
    const std::uint32_t offset = (std::uint32_t(data()[5]) << 24) | be24(data() + 6);
    std::memcpy(m_made, data(), 5);
    putBe32(m_made + 5, kFileHeaderSize);
    putBe32(m_made + kFileHeaderSize, 0);
    m_madeAt = 0;
    m_madeLength = kFileHeaderSize + kPreviousSizeSize;
    drop(kFileHeaderSize);
    m_skip = kPreviousSizeSize;
    if (offset > kFileHeaderSize && offset - kFileHeaderSize <= kMaxHeaderGap)
        m_skip += offset - kFileHeaderSize;
    m_state = State::Tags;
}

bool ForwardReader::plausibleAt(std::size_t at, bool strict, std::uint32_t& dataSize) {
    if (!fill(at + kTagHeaderSize) || !knownType(data()[at]))
        return false;
    dataSize = be24(data() + at + 1);
    const std::uint32_t streamId = be24(data() + at + 8);
    if (strict && (streamId != 0 || dataSize == 0 || dataSize > kMaxResyncDataSize))
        return false;
    const std::size_t end = at + kTagHeaderSize + dataSize;
    if (!fill(end))
        return false; // cut off by the end, or no tag at all
    // The previous-size field after it, as a sound writer or the known faulty recorder (4 too
    // large) leaves it.
    bool trailerFits = false;
    if (fill(end + kPreviousSizeSize)) {
        const std::uint32_t previous = (std::uint32_t(data()[end]) << 24) | be24(data() + end + 1);
        trailerFits = previous == dataSize + kTagHeaderSize ||
                      previous == dataSize + kTagHeaderSize + kPreviousSizeSize;
    }
    if (!strict)
        return streamId == 0 || trailerFits; // where a tag must start, its type and size decide
    const std::uint8_t type = data()[at];
    const std::uint8_t first = data()[at + kTagHeaderSize];
    if (type == 9 &&
        ((first >> 4) < 1 || (first >> 4) > 5 || (first & 0x0f) < 1 || (first & 0x0f) > 13))
        return false;
    if (type == 18 && first != 2)
        return false; // script data starts with the name string
    if (trailerFits)
        return true;
    // Else confirmed by a tag header right after it, or by the end of the stream.
    const std::size_t next = end + kPreviousSizeSize;
    if (!fill(next + kTagHeaderSize))
        return !m_failed;
    return knownType(data()[next]) && be24(data() + next + 8) == 0;
}

void ForwardReader::giveOut(std::uint32_t dataSize) {
    // Timestamps that run backwards are carried on forwards, as for files, or every picture
    // would be a jump the engine shows at once.
    std::uint8_t* const header = m_buffer.data() + m_head;
    if (header[0] == 8 || header[0] == 9) {
        const std::uint32_t raw = be24(header + 4) | (std::uint32_t(header[7]) << 24);
        const std::uint32_t timestamp = steady_timestamp(m_clocks[header[0] == 9], raw);
        header[4] = std::uint8_t(timestamp >> 16);
        header[5] = std::uint8_t(timestamp >> 8);
        header[6] = std::uint8_t(timestamp);
        header[7] = std::uint8_t(timestamp >> 24);
    }
    m_direct = kTagHeaderSize + dataSize;
    putBe32(m_made, std::uint32_t(m_direct));
    m_madeAt = 0;
    m_madeLength = kPreviousSizeSize;
    m_skip = kPreviousSizeSize;
    m_stats.tags += 1;
    m_stats.keptBytes += m_direct + kPreviousSizeSize;
}

void ForwardReader::nextTag() {
    while (m_skip > 0 && fill(1)) {
        const std::size_t n = std::min(m_skip, buffered());
        drop(n);
        m_skip -= n;
    }
    std::uint32_t dataSize = 0;
    if (m_skip == 0 && plausibleAt(0, false, dataSize)) {
        giveOut(dataSize);
        return;
    }
    if (m_failed)
        return; // a failed read may succeed next time
    if (m_skip > 0 || !fill(kTagHeaderSize)) {
        m_state = State::End; // what is left is no tag
        return;
    }
    resync();
}

// The first plausible tag after garbage; a long run of it, or too much of it in all, ends the
// stream.
void ForwardReader::resync() {
    std::uint64_t run = 0;
    std::size_t at = 1;
    const auto giveUp = [this](std::uint64_t dropped) {
        m_stats.droppedBytes += dropped;
        m_stats.gaveUp = true;
        m_state = State::End;
    };
    for (;;) {
        if (!fill(at + kTagHeaderSize)) {
            if (!m_failed) {
                m_stats.droppedBytes += run + buffered();
                m_state = State::End;
            }
            return;
        }
        const std::size_t last = buffered() - kTagHeaderSize;
        const std::uint8_t* const d = data();
        std::size_t p = at;
        while (p <= last && !knownType(d[p]))
            ++p;
        std::uint32_t dataSize = 0;
        if (p <= last && plausibleAt(p, true, dataSize)) {
            const std::uint64_t dropped = run + p;
            if (m_stats.droppedBytes + dropped > RepairingReader::kMaxResyncScan &&
                m_stats.droppedBytes + dropped > m_stats.keptBytes) {
                giveUp(dropped);
                return;
            }
            m_stats.droppedBytes += dropped;
            m_stats.resyncs += 1;
            drop(p);
            giveOut(dataSize);
            return;
        }
        if (m_failed)
            return;
        at = p <= last ? p + 1 : p;
        // What was scanned goes, so that the buffer holds no more than a tag's look ahead.
        if (at >= kChunk) {
            drop(at);
            run += at;
            at = 0;
        }
        if (run + at > RepairingReader::kMaxResyncScan) {
            giveUp(run + at);
            return;
        }
    }
}

std::int64_t ForwardReader::read(std::uint8_t* buffer, std::size_t length) {
    if (length == 0)
        return 0;
    if (m_state == State::Start)
        begin();
    if (m_direct == 0 && m_madeAt == m_madeLength) {
        if (m_state == State::Raw)
            return m_source.read(buffer, length);
        if (m_state == State::Tags)
            nextTag();
    }
    const std::size_t direct = std::min(m_direct, length);
    if (direct > 0) {
        std::memcpy(buffer, data(), direct);
        drop(direct);
        m_direct -= direct;
    }
    std::size_t done = direct;
    if (m_direct == 0) {
        const std::size_t made = std::min(m_madeLength - m_madeAt, length - done);
        std::memcpy(buffer + done, m_made + m_madeAt, made);
        m_madeAt += made;
        done += made;
    }
    if (done == 0 && m_failed) {
        m_failed = false;
        return -1;
    }
    return std::int64_t(done);
}

} // namespace movarin::flv
