#include "about/placement.h"

namespace movarin::about {

TwipsPoint form_load_position(const OwnerTwips& owner, float width, float height) {
    // Worked in double, kept as single: the results may end in half a twip.
    const double left = double(owner.Width) / 2 + owner.Left - double(width) / 2;
    const double top = double(owner.Height) / 2 + owner.Top - double(height) / 2 + kDropBelowCentre;
    return {static_cast<float>(left), static_cast<float>(top)};
}

} // namespace movarin::about
