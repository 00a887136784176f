#pragma once

// The unit of every window's own position and size: 1440 twips to the inch, 15 to the pixel at
// 96 dots per inch. Shared by the player window and the About window.
namespace movarin::twips {

// The largest coordinate or extent a window may be given, Qt's own limit for widget extents.
inline constexpr int kMaxPixels = 16777215;

inline double per_pixel(double logical_dpi) {
    return 1440.0 / logical_dpi;
}

// Twips to whole pixels, half a pixel away from zero. The range is checked before the result is
// narrowed to int, so a value too large for a window throws std::overflow_error("Overflow")
// instead of wrapping; so does a twips-per-pixel that is not positive.
int to_pixels(double twips, double twips_per_pixel);

} // namespace movarin::twips
