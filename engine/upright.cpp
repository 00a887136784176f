#include "engine/upright.h"

#include <algorithm>

namespace movarin {

std::string upright_filter(long long clockwiseDegrees) {
    switch (((clockwiseDegrees % 360) + 360) % 360) {
    case 90:
        return "transpose=clock";
    case 180:
        return "vflip,hflip";
    case 270:
        return "transpose=cclock";
    default:
        return {};
    }
}

long long rotation_to_play(const std::vector<VideoTrack>& tracks, long long asked) {
    const auto pick = [&](auto&& wanted) {
        return std::find_if(tracks.begin(), tracks.end(), wanted);
    };
    auto it = asked > 0 ? pick([&](const VideoTrack& t) { return t.id == asked; }) : tracks.end();
    if (it == tracks.end())
        it = pick([](const VideoTrack& t) { return t.isDefault && !t.albumArt; });
    if (it == tracks.end())
        it = pick([](const VideoTrack& t) { return !t.albumArt; });
    if (it == tracks.end())
        it = tracks.begin();
    return it == tracks.end() ? 0 : it->rotation;
}

} // namespace movarin
