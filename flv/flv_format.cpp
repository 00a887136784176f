#include "flv/flv_format.h"

#include <cstring>

namespace movarin::flv {

bool has_signature(const std::uint8_t* data, std::size_t size) {
    return size >= 3 && data[0] == 'F' && data[1] == 'L' && data[2] == 'V';
}

TagStartScan::TagStartScan(const std::uint8_t* data, std::size_t length)
    : m_data(data), m_length(length) {
    for (int i = 0; i < 3; ++i)
        m_next[i] = static_cast<const std::uint8_t*>(std::memchr(data, kTypes[i], length));
}

bool TagStartScan::next(std::size_t& offset) {
    int which = -1;
    for (int i = 0; i < 3; ++i)
        if (m_next[i] && (which < 0 || m_next[i] < m_next[which]))
            which = i;
    if (which < 0)
        return false;
    offset = std::size_t(m_next[which] - m_data);
    m_next[which] = static_cast<const std::uint8_t*>(
        std::memchr(m_next[which] + 1, kTypes[which], m_length - offset - 1));
    return true;
}

bool is_well_formed(const std::uint8_t* data, std::size_t size, const char** why) {
    const auto fault = [why](const char* text) {
        if (why)
            *why = text;
        return false;
    };
    if (size < kFileHeaderSize + kPreviousSizeSize)
        return fault("shorter than a header");
    if (!has_signature(data, size))
        return fault("no signature");
    if (be32(data + 5) != kFileHeaderSize)
        return fault("data offset is not 9");
    if (be32(data + kFileHeaderSize) != 0)
        return fault("first previous size is not 0");
    std::size_t at = kFirstTag;
    while (at < size) {
        if (size - at < kTagHeaderSize)
            return fault("bytes after the last tag");
        const std::uint8_t type = data[at];
        if (!known_type(type))
            return fault("unknown tag type");
        const std::size_t length = kTagHeaderSize + be24(data + at + 1);
        if (size - at < length + kPreviousSizeSize)
            return fault("tag runs past the end");
        if (be32(data + at + length) != length)
            return fault("previous size does not match the tag");
        at += length + kPreviousSizeSize;
    }
    return true;
}
} // namespace movarin::flv
