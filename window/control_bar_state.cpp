#include "window/control_bar_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace movarin::controls {

std::string format_time(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    // Beyond any real video, and far below what would overflow the conversion.
    seconds = std::min(seconds, 1e9);
    const auto total = static_cast<long long>(std::floor(seconds));
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long secs = total % 60;
    char text[32];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, secs);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, secs);
    return text;
}

double played_fraction(double position, double duration) {
    if (!std::isfinite(position) || !std::isfinite(duration) || duration <= 0)
        return 0;
    return std::clamp(position / duration, 0.0, 1.0);
}

int fill_pixels(int trackWidth, double fraction, double devicePixelRatio) {
    if (trackWidth <= 0 || !std::isfinite(fraction) || !std::isfinite(devicePixelRatio) ||
        devicePixelRatio <= 0)
        return 0;
    return int(std::lround(trackWidth * devicePixelRatio * std::clamp(fraction, 0.0, 1.0)));
}

namespace {

constexpr int kGap = 4;
constexpr int kSeekPad = 8;
constexpr int kRightPad = 6;
constexpr int kVolumeWidth = 56;
constexpr int kMinSeek = 48;

BarLayout arrange(int width, int height, int timeTextWidth, bool withTime, bool withVolume) {
    BarLayout l;
    int x = 0;
    l.play = {x, 0, height, height};
    x += height;
    if (withTime) {
        l.time = {x + kGap, 0, timeTextWidth, height};
        x = l.time.x + l.time.width;
    }
    int right = width - kRightPad;
    if (withVolume) {
        l.volume = {right - kVolumeWidth, 0, kVolumeWidth, height};
        right = l.volume.x;
    } else {
        right = width;
    }
    l.mute = {right - height, 0, height, height};
    l.seek = {x + kSeekPad, 0, l.mute.x - kSeekPad - (x + kSeekPad), height};
    return l;
}

} // namespace

BarLayout layout_bar(int width, int height, int timeTextWidth) {
    if (width <= 0 || height <= 0)
        return {};
    timeTextWidth = std::max(timeTextWidth, 0);
    BarLayout l = arrange(width, height, timeTextWidth, true, true);
    if (l.seek.width < kMinSeek)
        l = arrange(width, height, timeTextWidth, true, false);
    if (l.seek.width < kMinSeek)
        l = arrange(width, height, timeTextWidth, false, false);
    if (l.seek.width < 0)
        l.seek.width = 0;
    if (l.mute.x < l.play.x + l.play.width)
        l.mute = {}; // too narrow even for two buttons: keep play
    return l;
}

BarPart part_at(const BarLayout& layout, int x, int y) {
    if (layout.play.contains(x, y))
        return BarPart::Play;
    if (layout.seek.contains(x, y))
        return BarPart::Seek;
    if (layout.mute.contains(x, y))
        return BarPart::Mute;
    if (layout.volume.contains(x, y))
        return BarPart::Volume;
    return BarPart::None;
}

double fraction_on(const Rect& track, int x) {
    if (track.width <= 1)
        return 0;
    return std::clamp(double(x - track.x) / double(track.width - 1), 0.0, 1.0);
}

void BarVisibility::activity(std::int64_t nowMs) {
    m_shown = true;
    m_last = nowMs;
}

void BarVisibility::left() {
    if (!m_held)
        m_shown = false;
}

void BarVisibility::pressed(std::int64_t nowMs) {
    m_held = true;
    activity(nowMs);
}

void BarVisibility::released(std::int64_t nowMs) {
    m_held = false;
    m_last = nowMs;
}

bool BarVisibility::visible(std::int64_t nowMs) const {
    return m_shown && (m_held || nowMs - m_last < m_hideAfter);
}

std::int64_t BarVisibility::msUntilHide(std::int64_t nowMs) const {
    if (!m_shown || m_held)
        return -1;
    return std::max<std::int64_t>(0, m_last + m_hideAfter - nowMs);
}

} // namespace movarin::controls
