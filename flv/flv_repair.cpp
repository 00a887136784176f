#include "flv/flv_repair.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace movarin::flv {

namespace {

constexpr std::uint64_t kTagOverhead = kTagHeaderSize + kPreviousSizeSize;
// Tags read to learn which kinds of stream the file really holds.
constexpr int kFlagScanTags = 1000;
// "Near the last timestamp" while resyncing, in milliseconds.
constexpr std::int64_t kResyncBackward = 10'000;
constexpr std::int64_t kResyncForward = 30'000;
constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kScanSize = 64 * 1024;
// Resync results kept; past that the shortest scan is forgotten, so a file with more runs of
// garbage than this still reads, a little slower, and the long runs are never scanned twice.
constexpr std::size_t kMaxResyncs = 64;
// Sound found before garbage is given up on that is too short to be worth playing alone.
constexpr std::uint32_t kPlayableSoundMs = 1000;

} // namespace

std::uint64_t RepairingReader::garbage_allowed(std::uint64_t good, std::uint64_t dropped) {
    const std::uint64_t total = std::min(kMaxGarbage, kGarbageAllowance + good);
    return dropped < total ? std::min(kMaxResyncScan, total - dropped) : 0;
}

RepairingReader::RepairingReader(ByteSource& source)
    : m_source(source), m_block(kBlockSize), m_scan(kScanSize) {
    m_sourceSize = m_source.size();
    std::uint8_t header[kFileHeaderSize];
    bool readError = false;
    if (!fetch(0, header, sizeof header, readError) || !has_signature(header, sizeof header))
        return;
    m_valid = true;
    std::memcpy(m_header, header, 5);
    putBe32(m_header + 5, kFileHeaderSize);
    putBe32(m_header + kFileHeaderSize, 0);

    // A header that says where its tags start is believed when that lies inside the file;
    // otherwise the walk starts where it always does and resyncs from there.
    const std::uint32_t dataOffset = be32(header + 5);
    m_frontier.in = dataOffset >= kFileHeaderSize && dataOffset < m_sourceSize
                        ? std::uint64_t(dataOffset) + kPreviousSizeSize
                        : kFirstTag;
    m_frontier.out = kFirstTag;
    m_checkpoints.push_back(m_frontier);
    m_current = m_frontier;
    scanFlags();
}

bool RepairingReader::fetch(std::uint64_t offset, std::uint8_t* buffer, std::size_t length,
                            bool& readError) {
    if (length > m_block.size()) {
        std::size_t done = 0;
        while (done < length) {
            const std::int64_t r = m_source.readAt(offset + done, buffer + done, length - done);
            if (r < 0)
                readError = true;
            if (r <= 0)
                return false;
            done += std::size_t(r);
        }
        return true;
    }
    if (offset < m_blockAt || offset + length > m_blockAt + m_blockLength) {
        std::size_t got = 0;
        while (got < m_block.size()) {
            const std::int64_t r =
                m_source.readAt(offset + got, m_block.data() + got, m_block.size() - got);
            if (r < 0) {
                readError = true;
                m_blockLength = 0;
                return false;
            }
            if (r == 0)
                break;
            got += std::size_t(r);
        }
        m_blockAt = offset;
        m_blockLength = got;
        if (length > got)
            return false;
    }
    std::memcpy(buffer, m_block.data() + (offset - m_blockAt), length);
    return true;
}

// The file as the plausible-tag rule reads it: its size is known, up to the last change seen.
struct RepairingReader::FileBytes {
    RepairingReader& r;
    bool& readError;
    bool read(std::uint64_t at, std::uint8_t* out, std::size_t n) {
        return at + n <= r.m_sourceSize && r.fetch(at, out, n, readError);
    }
    Reach reach(std::uint64_t end) const { return end <= r.m_sourceSize ? Reach::Yes : Reach::End; }
    bool mayHold(std::uint64_t end) const { return end <= r.m_sourceSize; }
};

bool RepairingReader::plausibleAt(std::uint64_t in, Tag& tag, bool strict, const Cursor& at,
                                  bool checkTimestamp, bool& readError) {
    FileBytes bytes{*this, readError};
    const auto near = [&](std::uint32_t timestamp) {
        const std::int64_t jump = std::int64_t(timestamp) - std::int64_t(at.lastTimestamp);
        return !checkTimestamp || !at.haveTimestamp ||
               (jump >= -kResyncBackward && jump <= kResyncForward);
    };
    TagFields fields;
    if (!plausible_tag(bytes, in, strict, near, fields))
        return false;
    tag = {in, fields.dataSize, fields.timestamp, fields.type};
    return true;
}

RepairingReader::Step RepairingReader::nextTag(const Cursor& at, Tag& tag) {
    bool readError = false;
    if (plausibleAt(at.in, tag, false, at, false, readError))
        return Step::Tag;
    if (readError)
        return Step::Error;
    for (const Resync& known : m_resyncs) {
        if (known.from == at.in && known.sourceSize == m_sourceSize) {
            tag = known.tag;
            return known.step;
        }
    }
    std::uint64_t scanned = 0;
    const Step step = resync(at, tag, scanned);
    if (step == Step::Error)
        return step; // a failed read may succeed next time
    if (m_resyncs.size() >= kMaxResyncs)
        m_resyncs.erase(std::min_element(
            m_resyncs.begin(), m_resyncs.end(),
            [](const Resync& a, const Resync& b) { return a.scanned < b.scanned; }));
    m_resyncs.push_back({at.in, m_sourceSize, scanned, step, tag});
    return step;
}

// Garbage: the first plausible tag near the last timestamp, else the first plausible tag at all;
// nothing within what garbage_allowed leaves ends the stream there.
RepairingReader::Step RepairingReader::resync(const Cursor& at, Tag& tag, std::uint64_t& scanned) {
    bool readError = false;
    std::optional<Tag> far;
    const std::uint64_t limit =
        std::min(m_sourceSize, at.in + 1 + garbage_allowed(at.out, at.dropped));
    std::uint64_t blockAt = at.in + 1;
    const auto scannedTo = [&](std::uint64_t p) { scanned = p > at.in ? p - at.in : 0; };
    while (blockAt + kTagHeaderSize <= limit) {
        if (m_source.cancelled())
            return Step::Error;
        const std::size_t want =
            std::size_t(std::min<std::uint64_t>(m_scan.size(), limit - blockAt));
        const std::int64_t got = m_source.readAt(blockAt, m_scan.data(), want);
        if (got < 0)
            return Step::Error;
        if (got == 0)
            break;
        TagStartScan starts(m_scan.data(), std::size_t(got));
        for (std::size_t offset = 0; starts.next(offset);) {
            const std::uint64_t p = blockAt + offset;
            if (p + kTagHeaderSize > m_sourceSize)
                break;
            if (plausibleAt(p, tag, true, at, at.haveTimestamp, readError)) {
                scannedTo(p);
                return Step::Tag;
            }
            if (!far && at.haveTimestamp && plausibleAt(p, tag, true, at, false, readError))
                far = tag;
            if (readError)
                return Step::Error;
        }
        blockAt += std::uint64_t(got);
    }
    scannedTo(blockAt);
    if (!far)
        return Step::End;
    tag = *far;
    return Step::Tag;
}

void RepairingReader::advance(Cursor& cursor, const Tag& tag) {
    cursor.dropped += tag.in - cursor.in;
    if (tag.type == kTagAudio || tag.type == kTagVideo)
        steady_timestamp(cursor.clocks[tag.type == kTagVideo ? 1 : 0], tag.timestamp);
    cursor.in = tag.in + kTagHeaderSize + tag.dataSize + kPreviousSizeSize;
    cursor.out += kTagOverhead + tag.dataSize;
    cursor.index += 1;
    cursor.lastTimestamp = tag.timestamp;
    cursor.haveTimestamp = true;
}

void RepairingReader::remember(const Cursor& cursor, std::uint64_t dropped) {
    if (cursor.index <= m_frontier.index)
        return;
    m_frontier = cursor;
    m_stats.droppedBytes += dropped;
    m_stats.resyncs += dropped > 0 ? 1 : 0;
    if (cursor.index % m_stride != 0)
        return;
    m_checkpoints.push_back(cursor);
    if (m_checkpoints.size() < kMaxCheckpoints)
        return;
    // Constant memory: thin out to every other checkpoint; walks get at most twice as long.
    m_stride *= 2;
    std::erase_if(m_checkpoints, [this](const Cursor& c) { return c.index % m_stride != 0; });
}

void RepairingReader::scanFlags() {
    Cursor cursor = m_frontier;
    std::uint8_t seen = 0;
    bool picture = false;
    std::uint32_t firstSound = 0;
    std::uint32_t lastSound = 0;
    bool sound = false;
    Step step = Step::Tag;
    int tags = 0;
    for (; tags < kFlagScanTags; ++tags) {
        Tag tag;
        step = nextTag(cursor, tag);
        if (step == Step::End) {
            m_endKnown = true;
            m_endSourceSize = m_sourceSize;
        }
        if (step != Step::Tag)
            break;
        if (tag.type == kTagVideo)
            seen |= kFlagVideo;
        else if (tag.type == kTagAudio)
            seen |= kFlagAudio;
        const std::uint64_t dropped = tag.in - cursor.in;
        advance(cursor, tag);
        remember(cursor, dropped);
        if ((tag.type == kTagVideo && !picture) || tag.type == kTagAudio) {
            if (!holdsFrame(tag))
                continue;
            if (tag.type == kTagVideo) {
                picture = true;
                continue;
            }
            lastSound = cursor.clocks[0].last;
            if (!sound)
                firstSound = lastSound;
            sound = true;
        }
    }
    // The header's claims give way to what the tags hold, once there are tags to go by.
    if (tags > 0)
        m_header[4] = std::uint8_t((m_header[4] & ~(kFlagAudio | kFlagVideo)) | seen);
    // Garbage given up on before a picture or a moment of sound: nothing here is worth playing,
    // and saying so at once beats a stream of headers that the engine waits on.
    const bool gaveUp =
        step == Step::End &&
        cursor.in + 1 + garbage_allowed(cursor.out, cursor.dropped) + kTagHeaderSize <=
            m_sourceSize;
    if (gaveUp && !picture && (!sound || lastSound - firstSound < kPlayableSoundMs))
        m_valid = false;
}

// Whether a sound or picture tag holds a frame rather than the decoder's set-up or a note.
bool RepairingReader::holdsFrame(const Tag& tag) {
    std::uint8_t first[2] = {};
    bool readError = false;
    return tag.dataSize >= 1 &&
           fetch(tag.in + kTagHeaderSize, first, std::min<std::size_t>(tag.dataSize, 2),
                 readError) &&
           holds_frame(tag.type, first, tag.dataSize);
}

// The timestamp's bytes, where they fall in the copied part of a tag's header.
void RepairingReader::putTimestamp(const Cursor& cursor, const Tag& tag, std::uint64_t within,
                                   std::uint8_t* data, std::size_t length) {
    if (tag.type != kTagAudio && tag.type != kTagVideo)
        return;
    TagClock clock = cursor.clocks[tag.type == kTagVideo ? 1 : 0];
    const std::uint32_t timestamp = steady_timestamp(clock, tag.timestamp);
    if (timestamp == tag.timestamp)
        return;
    const TimestampBytes bytes = timestamp_bytes(timestamp);
    for (std::uint64_t i = std::max<std::uint64_t>(within, kTimestampAt);
         i < std::min<std::uint64_t>(within + length, kTimestampEnd); ++i)
        data[i - within] = bytes.b[i - kTimestampAt];
}

RepairingReader::Step RepairingReader::seekTag(std::uint64_t offset, Cursor& cursor, Tag& tag) {
    // Start from the later of the tag last read and the closest checkpoint before `offset`.
    auto it = std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), offset,
                               [](std::uint64_t o, const Cursor& c) { return o < c.out; });
    Cursor start = it == m_checkpoints.begin() ? m_checkpoints.front() : *std::prev(it);
    if (m_current.out <= offset && m_current.out >= start.out)
        start = m_current;
    for (;;) {
        const bool atFrontier = start.index == m_frontier.index;
        if (atFrontier && m_endKnown) {
            const std::uint64_t now = m_source.size();
            if (now == m_endSourceSize)
                return Step::End;
            // The file changed size: look again at what is there now.
            m_endKnown = false;
            m_sourceSize = now;
        }
        Step step = nextTag(start, tag);
        if (step == Step::End && atFrontier) {
            const std::uint64_t now = m_source.size();
            if (now != m_sourceSize) {
                m_sourceSize = now;
                step = nextTag(start, tag);
            }
            if (step == Step::End) {
                m_endKnown = true;
                m_endSourceSize = m_sourceSize;
            }
        }
        if (step != Step::Tag)
            return step;
        if (offset < start.out + kTagOverhead + tag.dataSize) {
            cursor = start;
            m_current = start;
            return Step::Tag;
        }
        const std::uint64_t dropped = tag.in - start.in;
        advance(start, tag);
        remember(start, dropped);
    }
}

std::int64_t RepairingReader::read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
    if (!m_valid)
        return 0;
    // A file cut short under us must not be read from what was cached of it.
    if (const std::uint64_t now = m_source.size(); now != m_sourceSize) {
        m_sourceSize = now;
        m_blockLength = 0;
    }
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t at = offset + done;
        if (at < kFirstTag) {
            const std::size_t n = std::min<std::size_t>(kFirstTag - at, length - done);
            std::memcpy(buffer + done, m_header + at, n);
            done += n;
            continue;
        }
        Cursor cursor;
        Tag tag;
        const Step step = seekTag(at, cursor, tag);
        if (step == Step::Error)
            return done > 0 ? std::int64_t(done) : -1;
        if (step == Step::End)
            break;
        const std::uint64_t within = at - cursor.out;
        const std::uint64_t body = kTagHeaderSize + tag.dataSize;
        if (within < body) {
            const std::size_t n =
                std::size_t(std::min<std::uint64_t>(body - within, length - done));
            const std::int64_t r = m_source.readAt(tag.in + within, buffer + done, n);
            if (r < 0)
                return done > 0 ? std::int64_t(done) : -1;
            if (m_patch && r > 0)
                m_patch->patch(m_source, tag.in, within, buffer + done, std::size_t(r));
            if (within < kTimestampEnd && r > 0)
                putTimestamp(cursor, tag, within, buffer + done, std::size_t(r));
            done += std::size_t(r);
            if (std::size_t(r) < n)
                break; // the file shrank under us
        } else {
            std::uint8_t previous[kPreviousSizeSize];
            putBe32(previous, std::uint32_t(body));
            const std::size_t from = std::size_t(within - body);
            const std::size_t n = std::min(kPreviousSizeSize - from, length - done);
            std::memcpy(buffer + done, previous + from, n);
            done += n;
        }
    }
    return std::int64_t(done);
}

std::uint64_t RepairingReader::size() {
    if (!m_valid)
        return 0;
    Cursor cursor;
    Tag tag;
    // Past the end of any real file: the walk stops at the end and leaves the frontier there.
    seekTag(~std::uint64_t(0) >> 1, cursor, tag);
    return m_frontier.out;
}

RepairingReader::Stats RepairingReader::stats() const {
    Stats s = m_stats;
    s.tags = m_frontier.index;
    s.checkpoints = m_checkpoints.size();
    return s;
}

} // namespace movarin::flv
