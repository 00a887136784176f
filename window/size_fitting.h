#pragma once

#include "window/twips.h"

#include <optional>
#include <string_view>

// Arithmetic that fits the window to the size the playback host reports.
namespace movarin::fitting {

// The number a text begins with, after leading blanks, "." as the decimal point; 0 when the
// text does not begin with a number ("Text1", "", "abc").
double leading_number(std::string_view text);

struct NumberFormat {
    char decimal_point = '.';
    char group_separator = 0; // 0: none
};

// A whole text read as a number: optional sign, digits (group separators allowed between
// them), optional decimal part, optional exponent. Nothing else, not even blanks, may stand in
// it. Tries the user's format first, then the plain "12.5" form. Empty when it is no number.
std::optional<double> convert_number(std::string_view text, NumberFormat user);

// Single precision as the window's numbers are kept; throws std::overflow_error past its range.
float to_single(double value);
// Throws std::invalid_argument("Type mismatch") when the text is no number.
double to_number(std::string_view text, NumberFormat user);

struct Refit {
    float window_width;  // twips
    float window_height; // twips, the 650-twip allowance included
    float host_width;    // pixels
    float host_height;   // pixels
};

struct Extent {
    double width = 0;
    double height = 0;
    bool operator==(const Extent&) const = default;
};

// The video area for a video of natural size `video` where the screen leaves `room` pixels for
// it: the natural size where it fits, else the largest size of the video's shape that does,
// in whole pixels. A room with no extent (nothing known about the screen) changes nothing.
Extent fit_into_room(Extent video, twips::PixelSize room);

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

// The picture letterboxed in `area`: the largest size of its shape, up or down, centred. A
// picture with no extent fills the area.
PixelRect letterbox(twips::PixelSize picture, twips::PixelSize area);

// The video area a sound file's cover asks for: the cover's own size, made as wide and as high
// as `least` (the window that says "Audio only") where it is smaller, so that a tiny cover shows
// inside that window, with the bar, instead of shrinking the window to a menu bar.
twips::PixelSize cover_area(twips::PixelSize cover, twips::PixelSize least);
// Where the cover stands in a host of size `host` that shows the cover's `area`, scaled the
// way the host is (to fit the screen, or full screen): the cover scaled alike, centred.
PixelRect cover_place(twips::PixelSize cover, twips::PixelSize area, twips::PixelSize host);

// The refit once both sizes are known (leading numbers above 0); nothing otherwise. A video
// larger than `room` is fitted into it (fit_into_room), the twips following the pixels.
std::optional<Refit> refit(std::string_view text1, std::string_view text2, double tpp_x,
                           double tpp_y, NumberFormat user, twips::PixelSize room = {});

} // namespace movarin::fitting
