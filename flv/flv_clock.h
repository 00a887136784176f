#pragma once

#include <cstdint>

// Timestamps that run backwards, carried on forwards for both FLV readers. Plain C++.
namespace movarin::flv {

// One kind of tag's place on the timeline handed on. Each sound or picture tag moves it; a tag
// whose timestamp goes back by about a frame or more moves the rest of that kind on from one
// step after the last, so that a stream whose timestamps run backwards plays at its own pace
// instead of as fast as the engine can decode it. A small jitter back is held at the last time
// rather than moving everything after it. A jump back by more than a second is a recording
// that starts again, and is handed on as it is.
struct TagClock {
    std::int64_t shift = 0; // added to this kind's timestamps from the file
    std::uint32_t last = 0; // the last timestamp handed on
    std::uint32_t raw = 0;  // and what the file said there
    std::uint32_t step = 0; // the last forward step, once there was one
    bool started = false;
};
// The timestamp to hand on for a tag of the clock's kind that says `raw`; moves the clock.
std::uint32_t steady_timestamp(TagClock& clock, std::uint32_t raw);

} // namespace movarin::flv
