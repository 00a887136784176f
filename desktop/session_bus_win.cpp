#include "desktop/session_bus.h"

namespace movarin {

// Windows has no session bus: there is never one to wait for.
bool session_bus_configured() {
    return false;
}

bool session_bus_answers(int) {
    return false;
}

} // namespace movarin
