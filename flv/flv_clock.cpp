#include "flv/flv_clock.h"

#include <algorithm>

namespace movarin::flv {

namespace {

// A step between frames; larger ones are pauses, not the stream's pace.
constexpr std::uint32_t kMaxFrameStep = 1000;
constexpr std::uint32_t kDefaultFrameStep = 40;

} // namespace

std::uint32_t steady_timestamp(TagClock& clock, std::uint32_t raw) {
    if (!clock.started) {
        clock = TagClock{0, raw, raw, 0, true};
        return raw;
    }
    const std::int64_t delta = std::int64_t(raw) - std::int64_t(clock.raw);
    clock.raw = raw;
    if (delta < -std::int64_t(kMaxFrameStep)) {
        // A recording that starts again: handed on as it is, so that the time shown, the
        // length and the seek index, which all go by the file's own numbers, agree.
        clock.shift = 0;
        clock.last = raw;
        return raw;
    }
    std::int64_t out = std::int64_t(raw) + clock.shift;
    const std::int64_t back = std::int64_t(clock.last) - out;
    if (back > 0) {
        const std::int64_t step = clock.step > 0                         ? clock.step
                                  : delta < 0 && -delta <= kMaxFrameStep ? -delta
                                                                         : kDefaultFrameStep;
        if (2 * back > step) {
            out = std::int64_t(clock.last) + step;
            clock.shift = out - std::int64_t(raw);
        } else {
            out = clock.last;
        }
    }
    out = std::clamp<std::int64_t>(out, 0, 0xffffffff);
    if (out > clock.last && out - clock.last <= kMaxFrameStep)
        clock.step = std::uint32_t(out - clock.last);
    clock.last = std::uint32_t(out);
    return clock.last;
}

} // namespace movarin::flv
