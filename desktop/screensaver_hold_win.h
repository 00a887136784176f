#pragma once

#include "desktop/screensaver_hold.h"

namespace movarin {

// Holds the screensaver and the display's sleep off through the GUI thread's execution state,
// which Windows drops by itself when the thread or the program ends.
class ExecutionStateHold : public ScreenSaverHold {
public:
    ExecutionStateHold() = default;
    ~ExecutionStateHold() override;

    void want(bool on) override;
    bool held() const { return m_held; }

private:
    bool m_held = false;
};

} // namespace movarin
