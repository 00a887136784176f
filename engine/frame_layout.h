#pragma once

#include <QtGlobal>

namespace movarin {

// How a picture of some width is laid out for the software converter.
//
// swscale converts to RGB two pixels at a time, sharing their chroma; for an odd width it falls
// back to full-resolution chroma in plain C, about four times the work (1855 pixels wide costs
// 4.2x what 1854 or 1856 do). So an odd picture is converted one column narrower, always
// within the picture's own memory, and that column is repeated at its right edge: every pixel
// stays the picture's own, and no stripe shows there.
int converter_width(int width);

// Bytes per row of frame memory of our own: a multiple of 64, as mpv's SIMD paths want (it copies
// the whole frame through an aligned one of its own otherwise).
qsizetype frame_stride(int width);

// Fills the columns from `converted` to `width` of each row with the last converted pixel
// (4 bytes a pixel).
void repeat_last_column(uchar* bits, int width, int height, qsizetype stride, int converted);

} // namespace movarin
