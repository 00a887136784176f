#pragma once

#include <cstddef>
#include <cstdint>

// The picture's width and height, read from the first bytes of an FLV video tag's data (the
// codec byte first): a Sorenson H.263 picture header, a VP6 key frame, or an H.264 decoder
// set-up. Plain C++.
namespace movarin::repair {

struct PictureSize {
    int width = 0;
    int height = 0;
    bool known() const { return width > 0 && height > 0; }
};

// How many data bytes a tag of this first byte needs for picture_size: 0 when it tells nothing.
std::size_t picture_size_needs(const std::uint8_t* data, std::size_t size);
PictureSize picture_size(const std::uint8_t* data, std::size_t size);

} // namespace movarin::repair
