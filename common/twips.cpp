#include "common/twips.h"

#include <cmath>
#include <stdexcept>

namespace movarin::twips {

int to_pixels(double twips, double twips_per_pixel) {
    if (!(twips_per_pixel > 0) || !std::isfinite(twips_per_pixel))
        throw std::overflow_error("Overflow");
    const double pixels = std::round(twips / twips_per_pixel);
    if (!std::isfinite(pixels) || std::fabs(pixels) > kMaxPixels)
        throw std::overflow_error("Overflow");
    return static_cast<int>(pixels);
}

} // namespace movarin::twips
