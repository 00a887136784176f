#include "window/twips.h"

#include <algorithm>

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

} // namespace movarin::twips
