#pragma once

#include <cstddef>
#include <cstdint>

// The FLV container's layout, read and written in one place: its sizes, tag types and header
// flags, its big-endian fields, and what makes bytes look like a real tag to the readers that
// resync on garbage. Plain C++: no Qt, no engine.
namespace movarin::flv {

inline constexpr std::size_t kFileHeaderSize = 9;
inline constexpr std::size_t kTagHeaderSize = 11;
inline constexpr std::size_t kPreviousSizeSize = 4;
// The first tag of a well-formed file: after the header and a PreviousTagSize of 0.
inline constexpr std::uint64_t kFirstTag = kFileHeaderSize + kPreviousSizeSize;
inline constexpr std::uint8_t kFlagAudio = 0x04;
inline constexpr std::uint8_t kFlagVideo = 0x01;
inline constexpr std::uint8_t kTagAudio = 8;
inline constexpr std::uint8_t kTagVideo = 9;
inline constexpr std::uint8_t kTagScript = 18;
// Where a tag header holds its timestamp, the extended byte last.
inline constexpr std::size_t kTimestampAt = 4;
inline constexpr std::size_t kTimestampEnd = 8;
// Largest tag a resync believes in: far above any real frame, far below the field's limit, so
// that a random size in garbage rarely passes.
inline constexpr std::uint32_t kMaxResyncDataSize = 8u << 20;

constexpr std::uint32_t be24(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
}

constexpr std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | be24(p + 1);
}

constexpr void putBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

constexpr bool known_type(std::uint8_t type) {
    return type == kTagAudio || type == kTagVideo || type == kTagScript;
}

// A tag's timestamp: 24 bits, then the extended byte above them.
constexpr std::uint32_t tag_timestamp(const std::uint8_t* header) {
    return be24(header + kTimestampAt) | (std::uint32_t(header[kTimestampEnd - 1]) << 24);
}

// The four timestamp bytes of a tag header, in the order the header holds them.
struct TimestampBytes {
    std::uint8_t b[4];
};
constexpr TimestampBytes timestamp_bytes(std::uint32_t ms) {
    return {
        {std::uint8_t(ms >> 16), std::uint8_t(ms >> 8), std::uint8_t(ms), std::uint8_t(ms >> 24)}};
}

// The fields of an eleven-byte tag header.
struct TagFields {
    std::uint8_t type = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t streamId = 0;
};
constexpr TagFields tag_fields(const std::uint8_t* header) {
    return {header[0], be24(header + 1), tag_timestamp(header), be24(header + 8)};
}

// Whether the bytes begin with the FLV signature.
bool has_signature(const std::uint8_t* data, std::size_t size);

// An independent check that bytes form a well-formed FLV: the header, a zero first
// PreviousTagSize, then whole tags of type 8, 9 or 18, each followed by its true size, and
// nothing after the last. Sets `why` to the first fault.
bool is_well_formed(const std::uint8_t* data, std::size_t size, const char** why = nullptr);

// The places in a block where a tag could start, a byte of a known tag type, in order. Runs of
// zeros and other bytes no tag starts with go by at memchr's pace.
class TagStartScan {
public:
    TagStartScan(const std::uint8_t* data, std::size_t length);
    // The next such offset into the block; false when there is none.
    bool next(std::size_t& offset);

private:
    static constexpr std::uint8_t kTypes[3] = {kTagAudio, kTagVideo, kTagScript};
    const std::uint8_t* m_data;
    std::size_t m_length;
    const std::uint8_t* m_next[3];
};

// Codec ids whose data byte after the codec byte tells the decoder's set-up from frames.
inline constexpr int kCodecAac = 10;
inline constexpr int kCodecAvc = 7;
inline constexpr int kCodecHevc = 12;
inline constexpr int kVideoInfoFrame = 5;

// Whether a sound or picture tag holds a frame rather than the decoder's set-up or a note, from
// its first data bytes (`first[1]` only where `dataSize` is at least 2).
constexpr bool holds_frame(std::uint8_t type, const std::uint8_t* first, std::uint32_t dataSize) {
    const bool packetIsFrame = dataSize >= 2 && first[1] == 1;
    if (type == kTagAudio)
        return (first[0] >> 4) != kCodecAac || packetIsFrame;
    const int codec = first[0] & 0x0f;
    if ((first[0] >> 4) == kVideoInfoFrame)
        return false;
    return (codec != kCodecAvc && codec != kCodecHevc) || packetIsFrame;
}

// The previous-size field after a tag, as a sound writer or the known faulty recorder (4 too
// large) leaves it.
constexpr bool trailer_fits(std::uint32_t previous, std::uint32_t dataSize) {
    return previous == dataSize + kTagHeaderSize ||
           previous == dataSize + kTagHeaderSize + kPreviousSizeSize;
}

// What a tag's first data byte must be for a resync to believe in it: a picture names a frame
// type and codec that exist, script data starts with the name string.
constexpr bool plausible_first_byte(std::uint8_t type, std::uint8_t first) {
    if (type == kTagVideo) {
        const int frame = first >> 4;
        const int codec = first & 0x0f;
        return frame >= 1 && frame <= 5 && codec >= 1 && codec <= 13;
    }
    return type != kTagScript || first == 2;
}

// How far bytes run, for the rule below: a file knows its size, a stream finds out by waiting.
enum class Reach { Yes, End, Error };

// Whether a tag starts at `at`, as the readers that repair FLV decide it; `tag` gets its fields.
// Where a tag must start (not `strict`), its type and size decide, and a stream id other than 0
// needs the trailer to fit. A resync (`strict`) wants a real tag's header, a first data byte
// that fits its type, a timestamp that `near` accepts, and a confirmation: its own trailer, a
// tag header right after it, or the end. `Bytes` gives:
//   bool read(std::uint64_t at, std::uint8_t* out, std::size_t n): all of it, or false at the
//     end or on a read error;
//   Reach reach(std::uint64_t end): whether the bytes run to `end`;
//   bool mayHold(std::uint64_t end): false only where the size is known and `end` is past it.
template <typename Bytes, typename Near>
bool plausible_tag(Bytes& bytes, std::uint64_t at, bool strict, Near near, TagFields& tag) {
    std::uint8_t h[kTagHeaderSize];
    if (!bytes.read(at, h, sizeof h) || !known_type(h[0]))
        return false;
    tag = tag_fields(h);
    if (strict && (tag.streamId != 0 || tag.dataSize == 0 || tag.dataSize > kMaxResyncDataSize ||
                   !near(tag.timestamp)))
        return false;
    const std::uint64_t end = at + kTagHeaderSize + tag.dataSize;
    if (bytes.reach(end) != Reach::Yes)
        return false; // a size past the end: cut off, or not a tag at all
    const auto trailer = [&] {
        std::uint8_t p[kPreviousSizeSize];
        return bytes.read(end, p, sizeof p) && trailer_fits(be32(p), tag.dataSize);
    };
    if (!strict)
        return tag.streamId == 0 || trailer();
    std::uint8_t first = 0;
    if (!bytes.read(at + kTagHeaderSize, &first, 1) || !plausible_first_byte(tag.type, first))
        return false;
    if (trailer())
        return true;
    const std::uint64_t next = end + kPreviousSizeSize;
    switch (bytes.reach(next + kTagHeaderSize)) {
    case Reach::End:
        return true;
    case Reach::Error:
        return false;
    case Reach::Yes:
        break;
    }
    std::uint8_t n[kTagHeaderSize];
    return bytes.read(next, n, sizeof n) && known_type(n[0]) && be24(n + 8) == 0 &&
           bytes.mayHold(next + kTagHeaderSize + be24(n + 1));
}

} // namespace movarin::flv
