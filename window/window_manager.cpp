#include "window/window_manager.h"

#include <algorithm>
#include <cstdlib>

namespace movarin {

bool window_manager_running(XWindowId root, const SupportingWmCheck& read) {
    const std::optional<XWindowId> check = read(root);
    return check && *check != 0 && read(*check) == check;
}

std::optional<twips::PixelPoint> placement_shift(twips::PixelPoint slip, twips::PixelPoint asked,
                                                 twips::PixelPoint now, twips::PixelPoint shift) {
    if (std::abs(slip.x) > std::max(asked.x, now.x) || std::abs(slip.y) > std::max(asked.y, now.y))
        return std::nullopt;
    // What the manager added of its own, beyond the edges changing under the asked place.
    const twips::PixelPoint own{slip.x - asked.x + now.x + shift.x,
                                slip.y - asked.y + now.y + shift.y};
    return own == now && slip != twips::PixelPoint{} ? now : shift;
}

} // namespace movarin
