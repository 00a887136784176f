#include "window/window_manager.h"

namespace movarin {

bool window_manager_running(XWindowId root, const SupportingWmCheck& read) {
    const std::optional<XWindowId> check = read(root);
    return check && *check != 0 && read(*check) == check;
}

} // namespace movarin
