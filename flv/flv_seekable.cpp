#include "flv/flv_seekable.h"

#include <algorithm>
#include <cstring>

namespace movarin::flv {

namespace {

// Tags looked at from the start for the metadata and the first sound and picture.
constexpr int kHeadTags = 64;
constexpr std::uint32_t kMaxMetadataSize = 4u << 20;
// A growing file's end is looked at again no more often than this.
constexpr auto kTailInterval = std::chrono::seconds(1);

struct HeadTag {
    std::uint64_t at = 0;
    std::uint8_t type = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t timestamp = 0;
    std::uint64_t end() const { return at + kTagHeaderSize + dataSize + kPreviousSizeSize; }
};

// The file from a tag start on, behind a header of its own: what a window shows, repaired.
class TailSource : public ByteSource {
public:
    TailSource(ByteSource& file, std::uint64_t from, std::uint8_t flags)
        : m_file(file), m_from(from) {
        const std::uint8_t header[kFirstTag] = {'F', 'L', 'V', 1, flags, 0, 0, 0, 9, 0, 0, 0, 0};
        std::memcpy(m_header, header, sizeof header);
    }
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset < kFirstTag) {
            const std::size_t n = std::min<std::size_t>(kFirstTag - offset, length);
            std::memcpy(buffer, m_header + offset, n);
            return std::int64_t(n);
        }
        return m_file.readAt(m_from + offset - kFirstTag, buffer, length);
    }
    std::uint64_t size() override {
        const std::uint64_t file = m_file.size();
        return file > m_from ? file - m_from + kFirstTag : kFirstTag;
    }

private:
    ByteSource& m_file;
    std::uint64_t m_from;
    std::uint8_t m_header[kFirstTag];
};

} // namespace

struct SeekableStream::Window {
    Window(ByteSource& file, std::uint64_t from, std::uint8_t flags, TagPatch& patch,
           std::uint64_t k)
        : source(file, from, flags), reader(source), number(k) {
        reader.setPatch(&patch);
    }
    TailSource source;
    RepairingReader reader;
    std::uint64_t number;
};

SeekableStream::SeekableStream(ByteSource& source)
    : m_source(source), m_reader(source), m_peek(source) {
    if (m_reader.valid())
        setUp();
}

SeekableStream::~SeekableStream() = default;

namespace {

// What the first tags of the repaired stream say.
struct Head {
    std::vector<HeadTag> tags;
    bool haveMeta = false;
    std::uint64_t metaAt = kFirstTag;
    std::uint64_t metaEnd = kFirstTag;
    MetaData meta;
    bool seenAudio = false;
    bool seenVideo = false;
    std::uint32_t firstAudio = 0;
    std::uint32_t firstVideo = 0;
    // Where the sound and picture tags start, in their own times.
    std::uint32_t first() const {
        return seenAudio && seenVideo ? std::min(firstAudio, firstVideo)
               : seenVideo            ? firstVideo
                                      : firstAudio;
    }
};

// The metadata, if any, comes before the first sound or picture; the header's flags say which
// of those to look for.
Head read_head(RepairingReader& reader, std::uint8_t flags) {
    Head head;
    for (std::uint64_t at = kFirstTag; int(head.tags.size()) < kHeadTags;) {
        std::uint8_t h[kTagHeaderSize];
        if (reader.read(at, h, sizeof h) != std::int64_t(sizeof h))
            break;
        HeadTag tag{at, std::uint8_t(h[0] & 0x1f), be24(h + 1), tag_timestamp(h)};
        head.tags.push_back(tag);
        if (tag.type == kTagScript && !head.haveMeta && !head.seenAudio && !head.seenVideo &&
            tag.dataSize <= kMaxMetadataSize) {
            std::vector<std::uint8_t> body(tag.dataSize);
            if (reader.read(at + kTagHeaderSize, body.data(), body.size()) ==
                    std::int64_t(body.size()) &&
                is_onmetadata(body.data(), body.size())) {
                head.haveMeta = true;
                head.metaAt = at;
                head.metaEnd = tag.end();
                head.meta = parse_metadata(body.data(), body.size());
            }
        } else if (tag.type == kTagVideo && !head.seenVideo) {
            head.seenVideo = true;
            head.firstVideo = tag.timestamp;
        } else if (tag.type == kTagAudio && !head.seenAudio) {
            head.seenAudio = true;
            head.firstAudio = tag.timestamp;
        }
        if (head.seenAudio == bool(flags & kFlagAudio) &&
            head.seenVideo == bool(flags & kFlagVideo) && (head.seenAudio || head.seenVideo) &&
            head.tags.size() >= 4)
            break;
        at = tag.end();
    }
    return head;
}

} // namespace

void SeekableStream::setUp() {
    m_reader.setPatch(&m_composition);
    std::uint8_t header[kFirstTag];
    if (m_reader.read(0, header, sizeof header) != std::int64_t(sizeof header))
        return;
    m_flags = header[4];
    const Head head = read_head(m_reader, m_flags);
    m_oldAt = head.metaAt;
    m_oldEnd = head.metaEnd;
    m_fileMeta = head.meta;
    m_video = head.seenVideo;

    if (head.seenAudio || head.seenVideo) {
        m_span.first = head.first();
        probe_tail(m_peek, m_span);
    }
    m_tailSize = m_peek.size();
    m_tailChecked = std::chrono::steady_clock::now();
    const double length = takeLength();

    if (m_fileMeta.hasIndex) {
        m_oldAt = m_oldEnd = 0; // read as it is
        return;
    }

    // The first two tags after the metadata are where the demuxer checks an index against the
    // file; they go in as they are, the points after them name windows.
    std::vector<HeadTag> after;
    for (const HeadTag& t : head.tags)
        if (t.at >= m_oldEnd && after.size() < 2)
            after.push_back(t);
    KeyframeIndex index;
    if (after.size() == 2 && m_span.valid && m_span.last > m_span.first)
        index = windowIndex(after[0].timestamp, after[1].timestamp);
    // Sizes do not depend on the values, so the positions of the two real tags can be put in
    // once the tag's size is known.
    m_metadata = metadata_tag(m_fileMeta, length, index);
    if (m_points > 0) {
        const std::uint64_t shiftTo = m_oldAt + m_metadata.size();
        index.positions[0] = after[0].at - m_oldEnd + shiftTo;
        index.positions[1] = after[1].at - m_oldEnd + shiftTo;
        m_metadata = metadata_tag(m_fileMeta, length, index);
    }
}

// A point every step from the start, each naming its window, behind the two real tags whose
// positions the caller puts in.
KeyframeIndex SeekableStream::windowIndex(std::uint32_t firstTime, std::uint32_t secondTime) {
    KeyframeIndex index;
    const auto first = m_peek.nextTag(0, 4u << 20);
    if (!first)
        return index;
    // The raw file's first sound or picture: where every bisection starts.
    std::optional<TagHead> t = first;
    while (t && !t->isAudio() && !t->isVideo())
        t = m_peek.nextTag(t->end(), t->end() + (4u << 20));
    m_rawFirstTag = t ? t->at : first->at;
    const std::uint32_t spanMs = m_span.last - m_span.first;
    m_stepMs = std::max<std::uint32_t>(
        kMinStepMs, std::uint32_t((std::uint64_t(spanMs) + kMaxPoints - 1) / kMaxPoints));
    m_gridStart = m_span.first;
    for (std::uint64_t k = 1;; ++k) {
        const std::uint64_t ms = std::uint64_t(m_gridStart) + k * m_stepMs;
        if (ms > m_span.last)
            break;
        if (ms <= secondTime)
            continue;
        index.times.push_back(std::uint32_t(ms));
        index.positions.push_back(k * kWindow);
        m_lastWindow = k;
    }
    m_points = index.times.size();
    if (m_points > 0) {
        index.times.insert(index.times.begin(), {firstTime, secondTime});
        index.positions.insert(index.positions.begin(), {0, 0});
    }
    return index;
}

double SeekableStream::takeLength() {
    const double length = chosen_duration(m_fileMeta.duration, m_span);
    m_duration = length;
    m_lastFrame = std::max(0.0, length - m_span.frame / 1000.0);
    return length;
}

void SeekableStream::refreshTail() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_tailChecked < kTailInterval)
        return;
    m_tailChecked = now;
    m_peek.refreshSize();
    if (m_peek.size() == m_tailSize || !m_span.valid)
        return;
    m_tailSize = m_peek.size();
    TimelineSpan span = m_span;
    if (!probe_tail(m_peek, span))
        return;
    m_span = span;
    takeLength();
}

std::int64_t SeekableStream::readMain(std::uint64_t offset, std::uint8_t* buffer,
                                      std::size_t length) {
    const std::uint64_t newEnd = m_oldAt + m_metadata.size();
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t at = offset + done;
        std::int64_t r = 0;
        if (at < m_oldAt || m_metadata.empty()) {
            const std::size_t n =
                m_metadata.empty()
                    ? length - done
                    : std::size_t(std::min<std::uint64_t>(m_oldAt - at, length - done));
            r = m_reader.read(at, buffer + done, n);
        } else if (at < newEnd) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(newEnd - at, length - done));
            std::memcpy(buffer + done, m_metadata.data() + (at - m_oldAt), n);
            r = std::int64_t(n);
        } else {
            r = m_reader.read(at - newEnd + m_oldEnd, buffer + done, length - done);
        }
        if (r < 0)
            return done > 0 ? std::int64_t(done) : -1;
        if (r == 0)
            break;
        done += std::size_t(r);
    }
    return std::int64_t(done);
}

SeekableStream::Window& SeekableStream::window(std::uint64_t k) {
    for (auto& w : m_windows)
        if (w && w->number == k)
            return *w;
    auto found = m_resolved.find(k);
    if (found == m_resolved.end()) {
        const std::uint64_t ms = std::uint64_t(m_gridStart) + k * m_stepMs;
        const std::uint64_t at =
            keyframe_at_or_before(m_peek, m_rawFirstTag,
                                  std::uint32_t(std::min<std::uint64_t>(ms, 0xffffffffu)), m_video);
        found = m_resolved.emplace(k, at).first;
    }
    // The older of the two goes.
    std::swap(m_windows[0], m_windows[1]);
    m_windows[0] = std::make_unique<Window>(m_source, found->second, m_flags, m_composition, k);
    ++m_windowsOpened;
    return *m_windows[0];
}

std::int64_t SeekableStream::read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
    if (!valid())
        return 0;
    refreshTail();
    if (offset < kWindow) {
        // Never across into the windows.
        length = std::size_t(std::min<std::uint64_t>(length, kWindow - offset));
        return readMain(offset, buffer, length);
    }
    const std::uint64_t k = offset / kWindow;
    if (k > m_lastWindow || m_points == 0)
        return 0;
    const std::uint64_t within = offset % kWindow;
    length = std::size_t(std::min<std::uint64_t>(length, kWindow - within));
    Window& w = window(k);
    // A window shows the file from its first tag on, without the header of its own.
    return w.reader.read(kFirstTag + within, buffer, length);
}

// The file's own size, less the metadata we replace and plus ours. The repaired stream's exact
// size is known only once every tag has been walked, which for a long recording costs more than
// the whole start; repairs only ever take bytes out, so reads simply end a little early.
std::uint64_t SeekableStream::size() {
    if (!valid())
        return 0;
    const std::uint64_t file = m_source.size();
    if (m_metadata.empty() || file < m_oldEnd)
        return file;
    return file - (m_oldEnd - m_oldAt) + m_metadata.size();
}

SeekableStream::Facts SeekableStream::facts() const {
    Facts f;
    f.ownIndex = m_fileMeta.hasIndex;
    f.points = m_points;
    f.stepMs = m_stepMs;
    f.metadataAt = m_oldAt;
    f.metadataSize = m_metadata.size();
    f.windowsOpened = m_windowsOpened;
    f.repairedOffsets = m_composition.repaired();
    f.span = m_span;
    f.fileDuration = m_fileMeta.duration;
    return f;
}

} // namespace movarin::flv
