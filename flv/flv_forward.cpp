#include "flv/flv_forward.h"

#include "flv/flv_repair.h"

#include <algorithm>
#include <cstring>

namespace movarin::flv {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
// A header that puts its first tag further on than this is not believed.
constexpr std::uint32_t kMaxHeaderGap = 64 * 1024;

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
    const std::uint32_t offset = be32(data() + 5);
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

// The stream as the plausible-tag rule reads it: its look-ahead, from m_head on, filled as the
// rule asks; its size is not known until the end is reached.
struct ForwardReader::StreamBytes {
    ForwardReader& r;
    bool read(std::uint64_t at, std::uint8_t* out, std::size_t n) {
        if (!r.fill(std::size_t(at) + n))
            return false;
        std::memcpy(out, r.data() + at, n);
        return true;
    }
    Reach reach(std::uint64_t end) {
        return r.fill(std::size_t(end)) ? Reach::Yes : r.m_failed ? Reach::Error : Reach::End;
    }
    bool mayHold(std::uint64_t) const { return true; }
};

bool ForwardReader::plausibleAt(std::size_t at, bool strict, std::uint32_t& dataSize) {
    StreamBytes bytes{*this};
    TagFields tag;
    if (!plausible_tag(
            bytes, at, strict, [](std::uint32_t) { return true; }, tag))
        return false;
    dataSize = tag.dataSize;
    return true;
}

void ForwardReader::giveOut(std::uint32_t dataSize) {
    // Timestamps that run backwards are carried on forwards, as for files, or every picture
    // would be a jump the engine shows at once.
    std::uint8_t* const header = m_buffer.data() + m_head;
    if (header[0] == kTagAudio || header[0] == kTagVideo) {
        const std::uint32_t timestamp =
            steady_timestamp(m_clocks[header[0] == kTagVideo], tag_timestamp(header));
        std::memcpy(header + kTimestampAt, timestamp_bytes(timestamp).b, 4);
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
        while (p <= last && !known_type(d[p]))
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
