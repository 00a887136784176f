#pragma once

#include <string>
#include <vector>

// Turning a picture upright when the output cannot turn it itself. Plain C++, no engine types.
namespace movarin {

// The video filter (libavfilter graph) that turns a picture by the given clockwise angle, as
// the engine reads a track's rotation: empty for none, and for an angle that is no quarter turn
// (no output turns those; the picture is shown as it is stored).
std::string upright_filter(long long clockwiseDegrees);

struct VideoTrack {
    long long id = 0;
    bool isDefault = false;
    bool albumArt = false;
    long long rotation = 0; // clockwise degrees
};

// The rotation of the video track that will play, known before the engine chooses one: the
// asked-for track (`asked` > 0), else the first flagged default, else the first moving picture,
// else the first track; 0 when there is none.
long long rotation_to_play(const std::vector<VideoTrack>& tracks, long long asked);

} // namespace movarin
