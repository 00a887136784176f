#pragma once

// Where the About window goes, worked out in twips (1440 to the inch) as single-precision numbers.
namespace movarin::about {

// The About window's own extent: 373 x 190 pixels at 15 twips to the pixel.
inline constexpr float kFormWidth = 5595.0f;
inline constexpr float kFormHeight = 2850.0f;
// How far below the owner's vertical centre the window sits.
inline constexpr float kDropBelowCentre = 250.0f;

// The owner's outer rectangle, frame included.
struct OwnerTwips {
    float Left = 0;
    float Top = 0;
    float Width = 0;
    float Height = 0;
};

struct TwipsPoint {
    float left = 0;
    float top = 0;
};

// Centred horizontally on the owner, 250 twips below its vertical centre; never clamped to a
// screen, so an owner partly off the screen gives a window partly off it too.
TwipsPoint form_load_position(const OwnerTwips& owner, float width = kFormWidth,
                              float height = kFormHeight);

} // namespace movarin::about
