#include "window/window_manager.h"

namespace movarin {

// No X server here: the window system itself places and sizes every window.
bool x_window_manager_running(unsigned long long) {
    return false;
}

} // namespace movarin
