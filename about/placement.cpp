#include "about/placement.h"

#include <cmath>
#include <stdexcept>

namespace movarin::about {

TwipsPoint form_load_position(const OwnerTwips& owner, float width, float height) {
    // Worked in double, kept as single: the results may end in half a twip.
    const double left = double(owner.Width) / 2 + owner.Left - double(width) / 2;
    const double top = double(owner.Height) / 2 + owner.Top - double(height) / 2 + kDropBelowCentre;
    return {static_cast<float>(left), static_cast<float>(top)};
}

int twips_to_pixels(float twips, double twips_per_pixel) {
    // A window coordinate must stay far inside int; Qt's own limit for widget extents is 2^24 - 1.
    constexpr double kLimit = 16777215.0;
    if (!(twips_per_pixel > 0))
        throw std::overflow_error("Overflow");
    const double pixels = std::round(double(twips) / twips_per_pixel);
    if (!std::isfinite(pixels) || std::fabs(pixels) > kLimit)
        throw std::overflow_error("Overflow");
    return static_cast<int>(pixels);
}

} // namespace movarin::about
