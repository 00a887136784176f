#include "window/size_fitting.h"

#include "window/twips.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace movarin::fitting {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A group separator counts only before exactly three digits, so that "12.5" is not read as
// 125 where "." groups thousands.
bool whole_group_follows(std::string_view text, std::size_t at) {
    if (at + 3 > text.size())
        return false;
    for (std::size_t k = at; k < at + 3; ++k) {
        if (!is_digit(text[k]))
            return false;
    }
    return at + 3 == text.size() || !is_digit(text[at + 3]);
}

// Reads sign, digits, fraction and exponent from the front of text; returns the characters
// used (0 when there is no number) and the digits normalised to the C form in `out`.
std::size_t scan_number(std::string_view text, NumberFormat format, std::string& out) {
    std::size_t i = 0;
    out.clear();
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        out += text[i++];
    std::size_t digits = 0;
    while (i < text.size()) {
        if (is_digit(text[i])) {
            out += text[i++];
            ++digits;
        } else if (format.group_separator != 0 && text[i] == format.group_separator && digits > 0 &&
                   whole_group_follows(text, i + 1)) {
            ++i;
        } else {
            break;
        }
    }
    if (i < text.size() && text[i] == format.decimal_point) {
        std::size_t j = i + 1;
        std::string fraction;
        while (j < text.size() && is_digit(text[j]))
            fraction += text[j++];
        if (digits > 0 || !fraction.empty()) {
            out += '.';
            out += fraction;
            digits += fraction.size();
            i = j;
        }
    }
    if (digits == 0)
        return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            exponent += text[j++];
        const std::size_t start = j;
        while (j < text.size() && is_digit(text[j]))
            exponent += text[j++];
        if (j > start) {
            out += exponent;
            i = j;
        }
    }
    return i;
}

// Whether a number that lies outside the range of double does so by being too small: the
// decimal exponent of its first significant digit is negative. "0.000...1" without an exponent
// and "1000...0e-5" both occur, so the sign of the exponent alone does not tell.
bool below_range(const std::string& normalised) {
    const auto e = normalised.find('e');
    long long exponent = 0;
    if (e != std::string::npos) {
        std::size_t i = e + 1;
        const bool negative = i < normalised.size() && normalised[i] == '-';
        if (i < normalised.size() && (normalised[i] == '-' || normalised[i] == '+'))
            ++i;
        for (; i < normalised.size() && exponent < 1'000'000'000; ++i)
            exponent = exponent * 10 + (normalised[i] - '0');
        if (negative)
            exponent = -exponent;
    }
    const std::string mantissa = normalised.substr(0, e);
    const auto point = mantissa.find('.');
    long long whole_digits = 0;
    for (std::size_t i = 0; i < mantissa.size() && i < point; ++i)
        whole_digits += is_digit(mantissa[i]) ? 1 : 0;
    long long index = 0;
    for (const char c : mantissa) {
        if (!is_digit(c))
            continue;
        if (c != '0')
            return whole_digits - 1 - index + exponent < 0;
        ++index;
    }
    return true;
}

// from_chars, unlike strtod, ignores the process locale. Out of range gives infinity, or zero
// for a number too small to hold.
double c_value(const std::string& normalised) {
    const char* first = normalised.data();
    if (*first == '+')
        ++first;
    double value = 0;
    const auto [end, error] = std::from_chars(first, normalised.data() + normalised.size(), value);
    if (error == std::errc::result_out_of_range) {
        const bool negative = normalised.front() == '-';
        if (below_range(normalised))
            return negative ? -0.0 : 0.0;
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    (void)end;
    return value;
}

std::optional<double> parse_whole(std::string_view text, NumberFormat format) {
    std::string normalised;
    const std::size_t used = scan_number(text, format, normalised);
    if (used == 0 || used != text.size())
        return std::nullopt;
    return c_value(normalised);
}

} // namespace

double leading_number(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    std::string normalised;
    if (scan_number(text.substr(start), NumberFormat{}, normalised) == 0)
        return 0;
    return c_value(normalised);
}

std::optional<double> convert_number(std::string_view text, NumberFormat user) {
    if (auto value = parse_whole(text, user))
        return value;
    return parse_whole(text, NumberFormat{});
}

float to_single(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        throw std::overflow_error("Overflow");
    return static_cast<float>(value);
}

double to_number(std::string_view text, NumberFormat user) {
    const auto value = convert_number(text, user);
    if (!value)
        throw std::invalid_argument("Type mismatch");
    if (!std::isfinite(*value))
        throw std::overflow_error("Overflow");
    return *value;
}

namespace {

// The largest whole-pixel size of the shape width : height inside `box`, up or down.
twips::PixelSize shape_in(double width, double height, twips::PixelSize box) {
    const double across = box.width / width;
    const double down = box.height / height;
    if (across <= down) {
        const int h = static_cast<int>(std::lround(height * across));
        return {box.width, std::clamp(h, 1, box.height)};
    }
    const int w = static_cast<int>(std::lround(width * down));
    return {std::clamp(w, 1, box.width), box.height};
}

} // namespace

Extent fit_into_room(Extent video, twips::PixelSize room) {
    if (room.width <= 0 || room.height <= 0 || !(video.width > 0) || !(video.height > 0))
        return video;
    if (video.width <= room.width && video.height <= room.height)
        return video;
    const twips::PixelSize fitted = shape_in(video.width, video.height, room);
    return {double(fitted.width), double(fitted.height)};
}

PixelRect letterbox(twips::PixelSize picture, twips::PixelSize area) {
    if (area.width <= 0 || area.height <= 0)
        return {0, 0, std::max(0, area.width), std::max(0, area.height)};
    if (picture.width <= 0 || picture.height <= 0)
        return {0, 0, area.width, area.height};
    const twips::PixelSize size = shape_in(picture.width, picture.height, area);
    return {(area.width - size.width) / 2, (area.height - size.height) / 2, size.width,
            size.height};
}

twips::PixelSize cover_area(twips::PixelSize cover, twips::PixelSize least) {
    return {std::max(cover.width, least.width), std::max(cover.height, least.height)};
}

PixelRect cover_place(twips::PixelSize cover, twips::PixelSize area, twips::PixelSize host) {
    if (cover.width <= 0 || cover.height <= 0 || area.width <= 0 || area.height <= 0 ||
        host.width <= 0 || host.height <= 0)
        return {0, 0, std::max(0, host.width), std::max(0, host.height)};
    const double scale =
        std::min(double(host.width) / area.width, double(host.height) / area.height);
    const int w = std::clamp(int(std::lround(cover.width * scale)), 1, host.width);
    const int h = std::clamp(int(std::lround(cover.height * scale)), 1, host.height);
    return {(host.width - w) / 2, (host.height - h) / 2, w, h};
}

std::optional<Refit> refit(std::string_view text1, std::string_view text2, double tpp_x,
                           double tpp_y, NumberFormat user, twips::PixelSize room) {
    if (!(leading_number(text1) > 0 && leading_number(text2) > 0))
        return std::nullopt;
    const Extent natural{to_number(text1, user), to_number(text2, user)};
    // Checked at the natural size before any fitting: a size no window can take fails the same
    // way whatever the screen.
    to_single(natural.width * tpp_x);
    to_single(natural.height * tpp_y + twips::kMenuAllowance);
    to_single(natural.width);
    to_single(natural.height);
    const Extent shown = fit_into_room(natural, room);
    Refit result{};
    result.window_width = to_single(shown.width * tpp_x);
    result.window_height = to_single(shown.height * tpp_y + twips::kMenuAllowance);
    result.host_width = to_single(shown.width);
    result.host_height = to_single(shown.height);
    return result;
}

} // namespace movarin::fitting
