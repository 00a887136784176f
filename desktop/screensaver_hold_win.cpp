#include "desktop/screensaver_hold_win.h"

#include <windows.h>

namespace movarin {

ExecutionStateHold::~ExecutionStateHold() {
    want(false);
}

void ExecutionStateHold::want(bool on) {
    if (on == m_held)
        return;
    const EXECUTION_STATE state =
        on ? ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED : ES_CONTINUOUS;
    // Zero means the call was refused; then nothing is held, and nothing is said.
    m_held = SetThreadExecutionState(state) != 0 && on;
}

} // namespace movarin
