#include "window/twips.h"

#include <algorithm>
#include <cmath>

namespace movarin::twips {

WindowTwips design_window(double tpp_x, double tpp_y) {
    return {0.0f, 0.0f, static_cast<float>(kDesignVideoWidth * tpp_x),
            static_cast<float>(kDesignVideoHeight * tpp_y + kMenuAllowance)};
}

PixelPoint frame_position(const WindowTwips& window, double tpp_x, double tpp_y) {
    return {to_pixels(window.left, tpp_x), to_pixels(window.top, tpp_y)};
}

PixelSize video_area(const WindowTwips& window, double tpp_x, double tpp_y) {
    return {std::max(0, to_pixels(window.width, tpp_x)),
            std::max(0, to_pixels(double(window.height) - kMenuAllowance, tpp_y))};
}

namespace {

// The frame's coordinate when it no longer stands where the stored value puts it. Rounded as
// to_pixels() rounds, but a stored value too large for any window just counts as elsewhere.
float followed(float stored, int frame, double tpp) {
    return std::round(stored / tpp) == frame ? stored : static_cast<float>(frame * tpp);
}

} // namespace

WindowTwips follow_frame(const WindowTwips& stored, PixelPoint frame, double tpp_x, double tpp_y) {
    WindowTwips now = stored;
    now.left = followed(stored.left, frame.x, tpp_x);
    now.top = followed(stored.top, frame.y, tpp_y);
    return now;
}

} // namespace movarin::twips
