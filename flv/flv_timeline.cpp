#include "flv/flv_timeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace movarin::flv {

namespace {

constexpr std::size_t kPeekBlock = 64 * 1024;
// Far above any real frame; a random size in garbage rarely fits under it.
constexpr std::uint32_t kMaxDataSize = 16u << 20;
// The tail is searched in windows from the end, growing up to this.
constexpr std::uint64_t kMaxTailWindow = 32u << 20;
// Bisection stops when the bracket is this narrow; what is left is walked tag by tag.
constexpr std::uint64_t kWalkSpan = 128 * 1024;
// How far past a probe point a tag start is looked for.
constexpr std::uint64_t kResyncReach = 4u << 20;

} // namespace

bool TagHead::isKeyframe() const {
    if (isAudio())
        return true;
    return isVideo() && dataBytes > 0 && (data[0] >> 4) == 1;
}

TagPeek::TagPeek(ByteSource& source) : m_source(source), m_block(kPeekBlock), m_scan(kPeekBlock) {
    refreshSize();
}

void TagPeek::refreshSize() {
    const std::uint64_t now = m_source.size();
    if (now != m_size)
        m_blockLength = 0;
    m_size = now;
}

bool TagPeek::fetch(std::uint64_t at, std::uint8_t* out, std::size_t length) {
    if (at < m_blockAt || at + length > m_blockAt + m_blockLength) {
        std::size_t got = 0;
        while (got < m_block.size()) {
            const std::int64_t r =
                m_source.readAt(at + got, m_block.data() + got, m_block.size() - got);
            if (r <= 0)
                break;
            got += std::size_t(r);
        }
        m_blockAt = at;
        m_blockLength = got;
        if (length > got)
            return false;
    }
    std::memcpy(out, m_block.data() + (at - m_blockAt), length);
    return true;
}

bool TagPeek::head(std::uint64_t at, TagHead& tag) {
    if (at + kTagHeaderSize > m_size)
        return false;
    std::uint8_t h[kTagHeaderSize + sizeof tag.data];
    const std::size_t want = std::size_t(std::min<std::uint64_t>(sizeof h, m_size - at));
    if (!fetch(at, h, want))
        return false;
    tag.at = at;
    tag.type = h[0];
    tag.dataSize = be24(h + 1);
    tag.timestamp = tag_timestamp(h);
    tag.dataBytes = std::min<std::size_t>({want - kTagHeaderSize, tag.dataSize, sizeof tag.data});
    std::memcpy(tag.data, h + kTagHeaderSize, tag.dataBytes);
    tag.streamId = be24(h + 8);
    return true;
}

bool TagPeek::sane(std::uint64_t at, TagHead& tag) {
    if (!head(at, tag) || tag.streamId != 0 || !known_type(tag.type))
        return false;
    if (tag.dataSize > kMaxDataSize || at + kTagHeaderSize + tag.dataSize > m_size)
        return false;
    if (tag.isAudio())
        return tag.dataSize > 0;
    return tag.dataBytes > 0 && plausible_first_byte(tag.type, tag.data[0]);
}

bool TagPeek::plausible(std::uint64_t at, TagHead& tag) {
    if (!sane(at, tag))
        return false;
    const std::uint64_t next = tag.end();
    if (next + kTagHeaderSize > m_size)
        return true;
    TagHead after;
    return sane(next, after);
}

std::optional<TagHead> TagPeek::nextTag(std::uint64_t from, std::uint64_t limit) {
    limit = std::min(limit, m_size);
    TagHead tag;
    for (std::uint64_t blockAt = from; blockAt + kTagHeaderSize <= limit;) {
        if (m_source.cancelled())
            return std::nullopt;
        // A block of its own, so that checking a candidate does not evict what is scanned.
        const std::size_t want =
            std::size_t(std::min<std::uint64_t>(m_scan.size(), limit - blockAt));
        const std::int64_t got = m_source.readAt(blockAt, m_scan.data(), want);
        if (got <= 0)
            return std::nullopt;
        TagStartScan starts(m_scan.data(), std::size_t(got));
        for (std::size_t offset = 0; starts.next(offset);) {
            const std::uint64_t p = blockAt + offset;
            if (p + kTagHeaderSize > limit)
                return std::nullopt;
            if (plausible(p, tag))
                return tag;
        }
        blockAt += std::uint64_t(got);
    }
    return std::nullopt;
}

bool probe_tail(TagPeek& peek, TimelineSpan& span) {
    const std::uint64_t size = peek.size();
    for (std::uint64_t window = 64 * 1024;; window *= 2) {
        const std::uint64_t from = size > window ? size - window : 0;
        std::optional<TagHead> tag = peek.nextTag(from, size);
        bool found = false;
        TagHead last, previousVideo, previousAudio;
        bool haveVideo = false, haveAudio = false;
        while (tag) {
            if (tag->isVideo() || tag->isAudio()) {
                if (found && last.type == tag->type) {
                    (last.isVideo() ? previousVideo : previousAudio) = last;
                    (last.isVideo() ? haveVideo : haveAudio) = true;
                }
                last = *tag;
                found = true;
            }
            TagHead next;
            if (peek.plausible(tag->end(), next) ||
                (tag->end() + kTagHeaderSize <= size && peek.head(tag->end(), next) &&
                 next.at + kTagHeaderSize + next.dataSize <= size &&
                 (next.type == kTagAudio || next.type == kTagVideo)))
                tag = next;
            else
                tag = peek.nextTag(tag->end() + 1, size);
        }
        if (found) {
            span.last = last.timestamp;
            const TagHead& before = last.isVideo() ? previousVideo : previousAudio;
            const bool have = last.isVideo() ? haveVideo : haveAudio;
            const std::uint32_t step =
                have && last.timestamp > before.timestamp ? last.timestamp - before.timestamp : 0;
            span.frame = step <= 1000 ? step : 0;
            span.valid = span.last >= span.first;
            return span.valid;
        }
        if (from == 0 || window >= kMaxTailWindow)
            return false;
    }
}

double chosen_duration(double metadataSeconds, const TimelineSpan& span) {
    if (!span.valid)
        return metadataSeconds > 0 ? metadataSeconds : 0;
    const double tags = span.seconds();
    if (metadataSeconds > 0 && std::abs(metadataSeconds - tags) <= 0.5)
        return metadataSeconds;
    return tags;
}

std::uint64_t keyframe_at_or_before(TagPeek& peek, std::uint64_t firstTag, std::uint32_t ms,
                                    bool video) {
    const auto wanted = [video](const TagHead& t) {
        return video ? t.isVideo() && t.isKeyframe() : t.isAudio();
    };
    // Each round looks only before where the last one started: a long group of pictures may
    // hold no keyframe between its bracket and the target.
    std::uint64_t ceiling = peek.size();
    for (int round = 0; round < 64 && ceiling > firstTag; ++round) {
        std::uint64_t lo = firstTag;
        std::uint64_t hi = ceiling;
        while (hi - lo > kWalkSpan) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            const std::optional<TagHead> tag = peek.nextTag(mid, std::min(hi, mid + kResyncReach));
            if (!tag || tag->at >= hi) {
                hi = mid;
                continue;
            }
            if (tag->timestamp <= ms)
                lo = tag->at;
            else
                hi = mid;
        }
        std::optional<std::uint64_t> best;
        TagHead tag;
        std::optional<TagHead> at;
        if (peek.plausible(lo, tag))
            at = tag;
        else
            at = peek.nextTag(lo, ceiling);
        while (at && at->at < ceiling && at->timestamp <= ms) {
            if (wanted(*at))
                best = at->at;
            TagHead next;
            if (peek.plausible(at->end(), next))
                at = next;
            else
                at = peek.nextTag(at->end() + 1, ceiling);
        }
        if (best)
            return *best;
        if (lo <= firstTag)
            break;
        ceiling = lo;
    }
    return firstTag;
}

bool impossible_composition(std::uint32_t timestamp, std::int32_t offset) {
    return offset > kMaxCompositionMs || offset < -kMaxCompositionMs ||
           std::int64_t(timestamp) + offset < -1000;
}

void CompositionRepair::patch(ByteSource& source, std::uint64_t tagIn, std::uint64_t within,
                              std::uint8_t* data, std::size_t length) {
    // The offset is the three bytes after the codec byte and the packet type.
    constexpr std::uint64_t kFrom = kTagHeaderSize + 2;
    constexpr std::uint64_t kTo = kFrom + 3;
    if (within >= kTo || within + length <= kFrom)
        return;
    std::uint8_t h[kTo];
    if (within == 0 && length >= kTo)
        std::memcpy(h, data, kTo);
    else if (source.readAt(tagIn, h, kTo) != std::int64_t(kTo))
        return;
    const int codec = h[kTagHeaderSize] & 0x0f;
    if ((h[0] & 0x1f) != kTagVideo || be24(h + 1) < 5 ||
        (codec != kCodecAvc && codec != kCodecHevc) || h[kTagHeaderSize + 1] != 1)
        return;
    const std::int32_t offset = std::int32_t((be24(h + kFrom) + 0xff800000u) ^ 0xff800000u);
    const std::uint32_t timestamp = tag_timestamp(h);
    if (!impossible_composition(timestamp, offset))
        return;
    for (std::uint64_t i = std::max(within, kFrom); i < std::min(within + length, kTo); ++i)
        data[i - within] = 0;
    if (within <= kFrom)
        ++m_repaired;
}

} // namespace movarin::flv
