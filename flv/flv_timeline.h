#pragma once

#include "flv/flv_repair.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// What an FLV file's tags say about its timeline, found with a few small reads wherever the
// file is: the last tag from the end, a keyframe by bisection. Nothing here walks the whole file,
// so it costs the same for a minute's recording and for a day's. Plain C++: no Qt, no engine.
namespace movarin::flv {

// A tag header and the first bytes of its data, as the file holds them.
struct TagHead {
    std::uint64_t at = 0;
    std::uint8_t type = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t streamId = 0;
    std::uint8_t data[5] = {};
    std::size_t dataBytes = 0; // how many of `data` the tag holds

    std::uint64_t end() const { return at + kTagHeaderSize + dataSize + kPreviousSizeSize; }
    bool isVideo() const { return type == kTagVideo; }
    bool isAudio() const { return type == kTagAudio; }
    // A picture that decodes on its own (or, for sound, any frame).
    bool isKeyframe() const;
};

// Reads tag headers from a source through a small block cache.
class TagPeek {
public:
    explicit TagPeek(ByteSource& source);
    std::uint64_t size() const { return m_size; }
    void refreshSize();
    // The header at `at`, whatever it holds; false past the end or on a read error.
    bool head(std::uint64_t at, TagHead& tag);
    // A header that looks like a real tag: a known type, stream id 0, a sane size that fits,
    // and followed by another such header (or the end).
    bool plausible(std::uint64_t at, TagHead& tag);
    // The first plausible tag at or after `from`, looking no further than `limit`; none once
    // the reader has given up waiting.
    std::optional<TagHead> nextTag(std::uint64_t from, std::uint64_t limit);

private:
    bool fetch(std::uint64_t at, std::uint8_t* out, std::size_t length);
    bool sane(std::uint64_t at, TagHead& tag);

    ByteSource& m_source;
    std::uint64_t m_size = 0;
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_blockAt = 0;
    std::size_t m_blockLength = 0;
    std::vector<std::uint8_t> m_scan;
};

// The span the audio and video tags cover, in milliseconds of their own timestamps.
struct TimelineSpan {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    // One frame's time at the end: the step between the last two tags of the last tag's kind.
    std::uint32_t frame = 0;
    bool valid = false;

    // Last minus first plus one frame.
    double seconds() const { return valid ? (double(last) - double(first) + frame) / 1000.0 : 0; }
};

// The last audio or video tag of the file and the frame step before it, from the end. `first`
// is left as given.
bool probe_tail(TagPeek& peek, TimelineSpan& span);

// The length to show: the tags' timeline whenever the file's own duration (0 when it has none)
// is off from it by more than half a second.
double chosen_duration(double metadataSeconds, const TimelineSpan& span);

// The offset of the last keyframe tag (video keyframes when `video`, else any sound tag) whose
// timestamp is at most `ms`, found by bisection from `firstTag`, a known tag start. Gives
// `firstTag` when there is none before.
std::uint64_t keyframe_at_or_before(TagPeek& peek, std::uint64_t firstTag, std::uint32_t ms,
                                    bool video);

// Composition time offsets (presentation minus decode time) that no encoder writes: further than
// kMaxCompositionMs either way, or putting a picture before the start of the file.
inline constexpr std::int32_t kMaxCompositionMs = 10'000;
bool impossible_composition(std::uint32_t timestamp, std::int32_t offset);

// Puts impossible composition offsets of H.264 and HEVC pictures to 0, so that a picture shows
// at its decode time; plausible ones (B-frames) pass untouched.
class CompositionRepair : public TagPatch {
public:
    void patch(ByteSource& source, std::uint64_t tagIn, std::uint64_t within, std::uint8_t* data,
               std::size_t length) override;
    std::uint64_t repaired() const { return m_repaired; }

private:
    std::uint64_t m_repaired = 0;
};

} // namespace movarin::flv
