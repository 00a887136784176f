#include "repair/repaired_copy.h"

#include <algorithm>
#include <bit>
#include <string_view>

namespace movarin::repair {

namespace {

using namespace movarin::flv;

constexpr std::uint32_t kMaxMetadataSize = 16u << 20;
constexpr std::uint32_t kAudioPointMs = 1000;
constexpr std::size_t kCopyBlock = 1u << 20;
constexpr std::size_t kPeek = 16;

// Entries of the file's metadata that the copy states anew, or that no longer hold once tags
// are dropped and times carried forward.
constexpr std::string_view kRestated[] = {
    "lasttimestamp", "lastkeyframetimestamp", "lastkeyframelocation", "hasVideo", "hasAudio",
    "hasKeyframes",  "hasMetadata",           "canSeekToEnd",
    "videocodecid",  "audiocodecid",          "filesize",             "datasize",
    "videosize",     "audiosize"};

// A kind's last timestamp and its last forward step.
struct KindClock {
    bool seen = false;
    std::uint32_t last = 0;
    std::uint32_t step = 0;
    void tick(std::uint32_t ms) {
        if (seen && ms > last)
            step = ms - last;
        last = seen ? std::max(last, ms) : ms;
        seen = true;
    }
};

// One pass's state beside the facts it fills.
struct Walk {
    Walk(StreamFacts& f, RepairingReader& r) : facts(f), reader(r) {}
    StreamFacts& facts;
    RepairingReader& reader;
    KindClock clocks[2]; // sound, picture
    KeyPoints soundPoints;
    std::uint32_t nextSoundPoint = 0;
    std::vector<std::uint8_t> body;

    bool readBody(std::uint64_t at, std::size_t length) {
        body.resize(length);
        return reader.read(at + kTagHeaderSize, body.data(), length) == std::int64_t(length);
    }
    bool script(std::uint64_t at, std::uint32_t dataSize) {
        if (facts.haveMeta || facts.sound || facts.picture || dataSize > kMaxMetadataSize)
            return true;
        if (!readBody(at, dataSize))
            return false;
        if (is_onmetadata(body.data(), body.size())) {
            facts.haveMeta = true;
            facts.metaAt = at;
            facts.metaEnd = at + kTagHeaderSize + dataSize + kPreviousSizeSize;
            facts.meta = parse_metadata(body.data(), body.size());
        }
        return true;
    }
    bool video(std::uint64_t at, const std::uint8_t* data, std::uint32_t dataSize,
               std::uint32_t ms) {
        if ((data[0] >> 4) == kVideoInfoFrame)
            return true;
        facts.picture = true;
        if (facts.videoCodec < 0)
            facts.videoCodec = data[0] & 0x0f;
        if (!facts.pictureSize.known()) {
            const std::size_t need = picture_size_needs(data, dataSize);
            if (need > kPeek && !readBody(at, need))
                return false;
            if (need > 0)
                facts.pictureSize = picture_size(need > kPeek ? body.data() : data, need);
        }
        if ((data[0] >> 4) == 1 && holds_frame(kTagVideo, data, dataSize))
            facts.keys.offer(ms, at);
        return true;
    }
    void audio(std::uint64_t at, const std::uint8_t* data, std::uint32_t ms) {
        facts.sound = true;
        if (facts.audioCodec < 0)
            facts.audioCodec = data[0] >> 4;
        if (ms >= nextSoundPoint) {
            soundPoints.offer(ms, at);
            nextSoundPoint = ms + kAudioPointMs;
        }
    }
    bool tag(std::uint64_t at, const std::uint8_t* h, std::size_t have) {
        const TagFields f = tag_fields(h);
        const std::uint8_t type = h[0] & 0x1f;
        const std::uint8_t* data = h + kTagHeaderSize;
        if (type == kTagScript)
            return script(at, f.dataSize);
        if (f.dataSize == 0 || have == 0 || (type != kTagAudio && type != kTagVideo))
            return true;
        clocks[type == kTagVideo].tick(f.timestamp);
        if (!facts.timed)
            facts.first = f.timestamp;
        facts.timed = true;
        if (type == kTagAudio) {
            facts.audioBytes += f.dataSize;
            audio(at, data, f.timestamp);
            return true;
        }
        facts.videoBytes += f.dataSize;
        return video(at, data, f.dataSize, f.timestamp);
    }
    void finish() {
        std::uint64_t end = 0;
        for (const KindClock& c : clocks) {
            if (!c.seen)
                continue;
            facts.last = std::max(facts.last, c.last);
            end = std::max<std::uint64_t>(end, std::uint64_t(c.last) + c.step);
        }
        facts.frame = std::uint32_t(end - facts.last);
        if (!facts.picture) {
            facts.keys = soundPoints;
            facts.audioPoints = true;
        }
    }
};

void putNumber(std::vector<std::uint8_t>& out, double v) {
    out.push_back(0);
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 7; i >= 0; --i)
        out.push_back(std::uint8_t(bits >> (8 * i)));
}

using Entries = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;

void number(Entries& e, const char* key, double v) {
    e.emplace_back(key, std::vector<std::uint8_t>{});
    putNumber(e.back().second, v);
}
void boolean(Entries& e, const char* key, bool v) {
    e.emplace_back(key, std::vector<std::uint8_t>{1, std::uint8_t(v)});
}

// The file's entries that still hold, then what the tags say; `fileSize` is the copy's size.
MetaData stated(const StreamFacts& f, const KeyframeIndex& index, std::uint64_t fileSize) {
    MetaData m;
    for (const auto& entry : f.meta.entries) {
        const bool sized = entry.first == "width" || entry.first == "height";
        if ((sized && f.pictureSize.known()) ||
            std::find(std::begin(kRestated), std::end(kRestated), entry.first) !=
                std::end(kRestated))
            continue;
        m.entries.push_back(entry);
    }
    Entries& e = m.entries;
    boolean(e, "hasVideo", f.picture);
    boolean(e, "hasAudio", f.sound);
    boolean(e, "hasMetadata", true);
    boolean(e, "hasKeyframes", !index.times.empty());
    if (f.picture)
        number(e, "videocodecid", f.videoCodec);
    if (f.sound)
        number(e, "audiocodecid", f.audioCodec);
    if (f.pictureSize.known()) {
        number(e, "width", f.pictureSize.width);
        number(e, "height", f.pictureSize.height);
    }
    number(e, "lasttimestamp", f.last / 1000.0);
    if (!index.times.empty()) {
        number(e, "lastkeyframetimestamp", index.times.back() / 1000.0);
        number(e, "lastkeyframelocation", double(index.positions.back()));
    }
    number(e, "videosize", double(f.videoBytes));
    number(e, "audiosize", double(f.audioBytes));
    number(e, "datasize", double(f.videoBytes + f.audioBytes));
    number(e, "filesize", double(fileSize));
    return m;
}

} // namespace

void KeyPoints::offer(std::uint32_t ms, std::uint64_t position) {
    if (m_offered++ % m_stride != 0)
        return;
    m_times.push_back(ms);
    m_positions.push_back(position);
    if (m_times.size() < 2 * kMax)
        return;
    m_stride *= 2;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_times.size(); i += 2, ++kept) {
        m_times[kept] = m_times[i];
        m_positions[kept] = m_positions[i];
    }
    m_times.resize(kept);
    m_positions.resize(kept);
}

bool scan_stream(RepairingReader& reader, StreamFacts& facts, std::string& error,
                 const Progress& progress) {
    if (reader.read(0, facts.header, sizeof facts.header) != std::int64_t(sizeof facts.header)) {
        error = "cannot read its header";
        return false;
    }
    Walk walk(facts, reader);
    std::uint64_t at = kFirstTag;
    for (;; ++facts.tags) {
        std::uint8_t h[kTagHeaderSize + kPeek];
        const std::int64_t r = reader.read(at, h, sizeof h);
        if (r == 0)
            break;
        const std::uint32_t dataSize = r >= std::int64_t(kTagHeaderSize) ? be24(h + 1) : 0;
        const std::size_t have = std::min<std::size_t>(dataSize, kPeek);
        if (r < std::int64_t(kTagHeaderSize + have) || !walk.tag(at, h, have)) {
            error = "read error";
            return false;
        }
        at += kTagHeaderSize + dataSize + kPreviousSizeSize;
        if (progress)
            progress(at);
    }
    facts.size = at;
    walk.finish();
    return true;
}

std::uint64_t MetadataPlan::toCopy(std::uint64_t p) const {
    const std::uint64_t removed = metaEnd - metaAt;
    return p + tag.size() - (p >= metaEnd && removed > 0 ? removed : 0);
}

MetadataPlan plan_metadata(const StreamFacts& facts) {
    MetadataPlan plan;
    if (facts.haveMeta) {
        plan.metaAt = facts.metaAt;
        plan.metaEnd = facts.metaEnd;
    }
    KeyframeIndex index;
    index.times = facts.keys.times();
    index.positions = facts.keys.positions();
    const double duration = facts.duration();
    // The sizes of numbers do not depend on their values: the first tag fixes every position.
    plan.tag = metadata_tag(stated(facts, index, 0), duration, index);
    for (std::uint64_t& p : index.positions)
        p = plan.toCopy(p);
    plan.copySize = plan.toCopy(facts.size);
    plan.tag = metadata_tag(stated(facts, index, plan.copySize), duration, index);
    return plan;
}

bool write_copy(RepairingReader& reader, const StreamFacts& facts, const MetadataPlan& plan,
                Sink& sink, std::string& error, const Progress& progress) {
    std::uint8_t header[kFirstTag];
    std::copy(std::begin(facts.header), std::end(facts.header), header);
    header[4] = std::uint8_t((header[4] & ~(kFlagAudio | kFlagVideo)) |
                             (facts.sound ? kFlagAudio : 0) | (facts.picture ? kFlagVideo : 0));
    if (!sink.write(header, sizeof header, error) ||
        !sink.write(plan.tag.data(), plan.tag.size(), error))
        return false;
    std::vector<std::uint8_t> block(kCopyBlock);
    const bool cut = plan.metaEnd > plan.metaAt;
    const std::uint64_t ranges[2][2] = {{kFirstTag, cut ? plan.metaAt : facts.size},
                                        {cut ? plan.metaEnd : facts.size, facts.size}};
    for (const auto& range : ranges) {
        for (std::uint64_t at = range[0]; at < range[1];) {
            const std::size_t want = std::size_t(std::min<std::uint64_t>(block.size(), range[1] - at));
            const std::int64_t r = reader.read(at, block.data(), want);
            if (r <= 0) {
                error = r < 0 ? "read error" : "the file changed while it was read";
                return false;
            }
            if (!sink.write(block.data(), std::size_t(r), error))
                return false;
            at += std::uint64_t(r);
            if (progress)
                progress(at);
        }
    }
    return true;
}

} // namespace movarin::repair
