// Covers are the player's own business: the engine shows none and never decodes one, so that
// the sound starts at once, and quitting does not wait, whatever a cover holds.
#include "engine/cover_art.h"
#include "engine/flv_stream.h"
#include "engine/mpv_engine_impl.h"

#include <string>
#include <string_view>
#include <vector>

namespace movarin {

namespace {

// A video track of the file's own, not a cover: such a file shows no cover, even where its
// video cannot be decoded.
bool hasOwnVideo(mpv_handle* core) {
    mpv_node list{};
    if (mpv_get_property(core, "track-list", MPV_FORMAT_NODE, &list) < 0)
        return false;
    bool own = false;
    for (int i = 0; list.format == MPV_FORMAT_NODE_ARRAY && i < list.u.list->num && !own; ++i) {
        const mpv_node& entry = list.u.list->values[i];
        if (entry.format != MPV_FORMAT_NODE_MAP)
            continue;
        bool video = false;
        bool cover = false;
        for (int k = 0; k < entry.u.list->num; ++k) {
            const std::string_view key = entry.u.list->keys[k];
            const mpv_node& v = entry.u.list->values[k];
            if (key == "type" && v.format == MPV_FORMAT_STRING)
                video = std::string_view(v.u.string) == "video";
            else if (key == "albumart" && v.format == MPV_FORMAT_FLAG)
                cover = v.u.flag != 0;
        }
        own = video && !cover;
    }
    mpv_free_node_contents(&list);
    return own;
}

std::vector<std::string> decoderNames(mpv_handle* core) {
    std::vector<std::string> names;
    mpv_node list{};
    if (mpv_get_property(core, "decoder-list", MPV_FORMAT_NODE, &list) < 0)
        return names;
    for (int i = 0; list.format == MPV_FORMAT_NODE_ARRAY && i < list.u.list->num; ++i) {
        const mpv_node& entry = list.u.list->values[i];
        for (int k = 0; entry.format == MPV_FORMAT_NODE_MAP && k < entry.u.list->num; ++k)
            if (std::string_view(entry.u.list->keys[k]) == "driver" &&
                entry.u.list->values[k].format == MPV_FORMAT_STRING)
                names.emplace_back(entry.u.list->values[k].u.string);
    }
    mpv_free_node_contents(&list);
    return names;
}

} // namespace

// A first look at a file's streams decodes a packet of each stream whose size it does not know,
// an embedded cover's too, before the sound can start: a cover of 16000x16000 pixels took
// seconds and most of a gigabyte there. Picture decoders are left out of that look; the engine's
// own decoders, which play the file, are not limited by it.
void MpvEngine::Impl::keepCoversFromProbing() {
    std::string allowed = decoders_without_pictures(decoderNames(core.get()));
    if (allowed.empty())
        return;
    char key[] = "codec_whitelist";
    char* keys[] = {key};
    mpv_node value{};
    value.format = MPV_FORMAT_STRING;
    value.u.string = allowed.data();
    mpv_node_list entries{1, &value, keys};
    mpv_node options{};
    options.format = MPV_FORMAT_NODE_MAP;
    options.u.list = &entries;
    mpv_set_property(core.get(), "demuxer-lavf-o", MPV_FORMAT_NODE, &options);
}

// Called on the GUI thread once the file is known to play without a picture.
void MpvEngine::Impl::lookForCover() {
    std::string path;
    {
        std::lock_guard lock(loadLock);
        if (!retriedWithoutVideo)
            path = loadedAddress;
    }
    // Files read through a reader of our own, FLV files and pipes, carry no cover; a pipe's
    // folder is none of its business.
    if (path.empty() || path.starts_with(detail::kFlvPrefix) ||
        path.starts_with(detail::kPipePrefix))
        return;
    coverSearch.reset();
    const std::uint64_t serial = coverSerial;
    coverSearch = std::make_unique<CoverSearch>([this, path, serial](const auto& cancel) {
        if (hasOwnVideo(core.get()))
            return;
        Cover cover = find_cover(path, cancel);
        if (cover.picture.isNull() || cancel)
            return;
        post([this, serial, cover = std::move(cover)] {
            if (serial == coverSerial)
                emit q->coverFound(cover.picture, cover.size);
        });
    });
}

void MpvEngine::Impl::forgetCover() {
    coverSearch.reset();
    ++coverSerial;
}

} // namespace movarin
