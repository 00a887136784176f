#pragma once

namespace movarin {

// What the view's actions act on: the window that shows the picture.
class PlayerView {
public:
    virtual ~PlayerView() = default;
    virtual bool fullScreen() const = 0;
    virtual void setFullScreen(bool on) = 0;
};

} // namespace movarin
