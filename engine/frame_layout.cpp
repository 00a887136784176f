#include "engine/frame_layout.h"

#include <cstring>

namespace movarin {

int converter_width(int width) {
    return width > 1 && width % 2 != 0 ? width - 1 : width;
}

qsizetype frame_stride(int width) {
    return (static_cast<qsizetype>(width) * 4 + 63) / 64 * 64;
}

void repeat_last_column(uchar* bits, int width, int height, qsizetype stride, int converted) {
    if (!bits || converted <= 0 || converted >= width)
        return;
    for (int y = 0; y < height; ++y) {
        uchar* row = bits + y * stride;
        for (int x = converted; x < width; ++x)
            std::memcpy(row + qsizetype(x) * 4, row + qsizetype(converted - 1) * 4, 4);
    }
}

} // namespace movarin
