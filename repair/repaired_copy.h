#pragma once

#include "flv/flv_metadata.h"
#include "flv/flv_repair.h"
#include "repair/picture_size.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The repaired copy of an FLV file, in two passes over the repairing reader's stream: the first
// learns what the tags hold (their kinds, codecs, picture size, timeline and keyframes), the
// second writes the header, an onMetaData that tells the truth, and every tag the reader keeps.
// The metadata's size depends only on how many entries and index points it holds, so the first
// pass fixes every position before a byte is written. Memory stays constant but for the index,
// which is thinned to at most KeyPoints::kMax points. Plain C++.
namespace movarin::repair {

// Index points, thinned to every other one (and the spacing doubled) when they reach twice kMax,
// so that a day's recording costs no more than an hour's.
class KeyPoints {
public:
    static constexpr std::size_t kMax = 50'000;
    void offer(std::uint32_t ms, std::uint64_t position);
    const std::vector<std::uint32_t>& times() const { return m_times; }
    const std::vector<std::uint64_t>& positions() const { return m_positions; }

private:
    std::vector<std::uint32_t> m_times;
    std::vector<std::uint64_t> m_positions;
    std::uint64_t m_offered = 0;
    std::uint64_t m_stride = 1;
};

// What the first pass learns, positions in the reader's stream.
struct StreamFacts {
    std::uint8_t header[flv::kFirstTag] = {};
    std::uint64_t size = 0; // the reader's stream, header included
    std::uint64_t tags = 0;
    bool sound = false;
    bool picture = false;
    int audioCodec = -1;
    int videoCodec = -1;
    PictureSize pictureSize;
    // The file's own onMetaData (the first one), replaced in the copy.
    bool haveMeta = false;
    std::uint64_t metaAt = 0;
    std::uint64_t metaEnd = 0;
    flv::MetaData meta;
    // Sound and picture tags' timestamps as the reader hands them on.
    bool timed = false;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint32_t frame = 0; // the last step of the last tag's kind
    std::uint64_t audioBytes = 0;
    std::uint64_t videoBytes = 0;
    KeyPoints keys;
    bool audioPoints = false; // the index points are sound tags at regular times

    // Seconds from 0 to the end of the last frame.
    double duration() const { return timed ? (double(last) + frame) / 1000.0 : 0; }
};

using Progress = std::function<void(std::uint64_t streamOffset)>;

// Walks the reader's whole stream; false with `error` set on a read error.
bool scan_stream(flv::RepairingReader& reader, StreamFacts& facts, std::string& error,
                 const Progress& progress = {});

// The copy's onMetaData tag, and its size, which the copy's positions depend on.
struct MetadataPlan {
    std::vector<std::uint8_t> tag;
    std::uint64_t copySize = 0;
    // A position in the reader's stream as it lands in the copy.
    std::uint64_t toCopy(std::uint64_t streamOffset) const;
    std::uint64_t metaAt = 0, metaEnd = 0;
};
MetadataPlan plan_metadata(const StreamFacts& facts);

// Where the copy goes: false with `error` set when a write fails.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool write(const std::uint8_t* data, std::size_t length, std::string& error) = 0;
};

// The second pass: header, metadata, then the reader's stream without the old metadata.
bool write_copy(flv::RepairingReader& reader, const StreamFacts& facts, const MetadataPlan& plan,
                Sink& sink, std::string& error, const Progress& progress = {});

} // namespace movarin::repair
