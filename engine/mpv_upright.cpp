#include "engine/mpv_engine_impl.h"
#include "engine/mpv_properties.h"
#include "engine/upright.h"

#include <string>
#include <string_view>
#include <vector>

namespace movarin {

namespace {

// The filter's label, so that it replaces only itself in a chain that may hold others.
constexpr const char* kLabel = "@movarin-upright";

// The file's video tracks as the demuxer found them; the engine has not chosen one yet.
std::vector<VideoTrack> videoTracks(mpv_handle* core) {
    std::vector<VideoTrack> tracks;
    mpv_node list{};
    if (mpv_get_property(core, "track-list", MPV_FORMAT_NODE, &list) < 0)
        return tracks;
    if (list.format == MPV_FORMAT_NODE_ARRAY)
        for (int i = 0; i < list.u.list->num; ++i) {
            const mpv_node& entry = list.u.list->values[i];
            if (entry.format != MPV_FORMAT_NODE_MAP)
                continue;
            VideoTrack track;
            bool video = false;
            for (int k = 0; k < entry.u.list->num; ++k) {
                const std::string_view key = entry.u.list->keys[k];
                const mpv_node& v = entry.u.list->values[k];
                if (key == "type" && v.format == MPV_FORMAT_STRING)
                    video = std::string_view(v.u.string) == "video";
                else if (key == "id" && v.format == MPV_FORMAT_INT64)
                    track.id = v.u.int64;
                else if (key == "default" && v.format == MPV_FORMAT_FLAG)
                    track.isDefault = v.u.flag != 0;
                else if (key == "albumart" && v.format == MPV_FORMAT_FLAG)
                    track.albumArt = v.u.flag != 0;
                else if (key == "demux-rotation" && v.format == MPV_FORMAT_INT64)
                    track.rotation = v.u.int64;
            }
            if (video)
                tracks.push_back(track);
        }
    mpv_free_node_contents(&list);
    return tracks;
}

} // namespace

// The software renderer takes a rotated picture for one it can draw and aborts on it. There the
// engine's own rotation is turned off and a filter turns the picture instead, chosen per file
// once its video track is known and before the video output starts: the output then sees an
// upright picture whose size is the displayed one, and so does everyone who asks for it. The GPU
// renderer turns pictures itself, cheaper than a filter, so with it nothing is done here.
void MpvEngine::Impl::watchForRotation() {
    if (renderingOnGpu || rotationWatched)
        return;
    rotationWatched = true;
    mpv_handle* h = core.get();
    if (const int err = mpv_set_property_string(h, "video-rotate", "no"); err < 0)
        detail::fail("Turning off the engine's rotation failed", err);
    if (const int err = mpv_hook_add(h, kPreloadedHook, "on_preloaded", 0); err < 0)
        detail::fail("Watching for rotated videos failed", err);
}

void MpvEngine::Impl::applyUprightFilter() {
    const long long degrees =
        rotation_to_play(videoTracks(core.get()), detail::track_number(core.get(), "vid"));
    const char* remove[] = {"vf", "remove", kLabel, nullptr};
    mpv_command(core.get(), remove); // refused when the last file needed none
    const std::string turn = upright_filter(degrees);
    if (turn.empty())
        return;
    // A picture that leaves a filter graph takes its turn from the display matrix it carries
    // (a phone's first frame does), which would hand the memory renderer a picture turned once
    // more, and it aborts on that: the matrix goes before the picture is turned. Without a
    // graph nothing reads the matrix again, and the engine's own turn is off.
    const std::string entry =
        std::string(kLabel) + ":lavfi=[sidedata=mode=delete:type=DISPLAYMATRIX," + turn + "]";
    const char* add[] = {"vf", "add", entry.c_str(), nullptr};
    mpv_command(core.get(), add);
}

void MpvEngine::Impl::onHook(const mpv_event_hook* hook) {
    if (!hook)
        return;
    if (std::string_view(hook->name) == "on_preloaded")
        applyUprightFilter();
    mpv_hook_continue(core.get(), hook->id);
}

} // namespace movarin
