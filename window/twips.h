#pragma once

#include "common/twips.h"

// The window's own position and size are kept in twips (1440 to the inch), as single-precision
// numbers; the video area below the menu bar is what the twips size stands for.
namespace movarin::twips {

inline constexpr float kHomeLeft = 2900.0f;
inline constexpr float kHomeTop = 2000.0f;
// Twips of the window's height that are not video: the frame and menu bar allowance.
inline constexpr float kMenuAllowance = 650.0f;
inline constexpr int kDesignVideoWidth = 380;
inline constexpr int kDesignVideoHeight = 311;

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

struct WindowTwips {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
};

// The window as designed: a 380 x 311 px video area, not yet placed.
WindowTwips design_window(double tpp_x, double tpp_y);

// Both throw std::overflow_error("Overflow") for a value no window can take.
PixelPoint frame_position(const WindowTwips& window, double tpp_x, double tpp_y);

// Width / tpp by (Height - 650) / tpp, never negative.
PixelSize video_area(const WindowTwips& window, double tpp_x, double tpp_y);

// The stored twips with the frame's real place taken in. A coordinate the frame still holds in
// whole pixels keeps its stored twips, so what the program set reads back exactly; one the user
// or the window manager changed becomes the frame's pixels in twips. Never throws.
WindowTwips follow_frame(const WindowTwips& stored, PixelPoint frame, double tpp_x, double tpp_y);

} // namespace movarin::twips
