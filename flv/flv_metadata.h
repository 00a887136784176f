#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The onMetaData script tag: read what the player needs from it, and write it again with a
// length and a keyframe index of our own, every other entry kept as the file had it.
// Plain C++: no Qt, no engine.
namespace movarin::flv {

struct MetaData {
    // The body is an onMetaData whose entries could all be read.
    bool parsed = false;
    // Seconds; 0 when the file says nothing.
    double duration = 0;
    // A keyframes object with matching times and file positions, two or more of each.
    bool hasIndex = false;
    // Every entry but the length and the index, each value as its encoded bytes.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> entries;
};

// Whether a script tag's body starts with the onMetaData name.
bool is_onmetadata(const std::uint8_t* body, std::size_t size);
MetaData parse_metadata(const std::uint8_t* body, std::size_t size);

struct KeyframeIndex {
    // Milliseconds, and byte offsets in the stream the demuxer reads.
    std::vector<std::uint32_t> times;
    std::vector<std::uint64_t> positions;
};

// A whole script tag (header, body, previous size) holding onMetaData with the kept entries,
// `duration` and, unless it is empty, `index`. Its size depends only on the kept entries and on
// the number of index entries, not on their values.
std::vector<std::uint8_t> metadata_tag(const MetaData& kept, double duration,
                                       const KeyframeIndex& index);

} // namespace movarin::flv
