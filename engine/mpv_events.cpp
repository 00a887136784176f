#include "engine/flv_stream.h"
#include "engine/mpv_engine_impl.h"
#include "engine/mpv_properties.h"

#include <chrono>
#include <cmath>
#include <iterator>
#include <string_view>

namespace movarin {

void MpvEngine::Impl::eventLoop() {
    // On each wakeup the queue is drained: mpv_wait_event returns at once while events wait.
    while (!events.stop) {
        mpv_event* event = mpv_wait_event(core.get(), watchingForFrames ? 0.25 : -1);
        if (event->event_id == MPV_EVENT_SHUTDOWN)
            return;
        if (event->event_id == MPV_EVENT_NONE)
            checkForFrames();
        else
            handle(*event);
    }
}

void MpvEngine::Impl::handle(const mpv_event& event) {
    switch (event.event_id) {
    case MPV_EVENT_START_FILE:
        onStartFile();
        break;
    case MPV_EVENT_FILE_LOADED:
        onFileLoaded();
        break;
    case MPV_EVENT_VIDEO_RECONFIG:
        onVideoReconfig();
        break;
    case MPV_EVENT_END_FILE:
        onEndFile(static_cast<const mpv_event_end_file*>(event.data));
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        onPlaybackRestart();
        break;
    case MPV_EVENT_PROPERTY_CHANGE:
        onPropertyChange(event);
        break;
    case MPV_EVENT_HOOK:
        onHook(static_cast<const mpv_event_hook*>(event.data));
        break;
    default:
        break;
    }
}

void MpvEngine::Impl::onStartFile() {
    sentWidth = sentHeight = 0;
    loaded = sentNoVideo = false;
    emptyLoops.reset();
    stillLoops.reset();
    framesAtRestart = framesHanded;
    post([this] {
        q->setHasVideo(false);
        emit q->fileStarted();
    });
}

void MpvEngine::Impl::onFileLoaded() {
    loaded = true;
    watchingForFrames = true;
    loadedAt = std::chrono::steady_clock::now();
    framesAtLoad = framesHanded;
    // Read once the tracks are chosen: the selected video track's number, or false when the
    // file has none. Watching it instead could carry the last file's value over.
    mpv_node vid{};
    bool hasVideo = false;
    if (mpv_get_property(core.get(), "vid", MPV_FORMAT_NODE, &vid) >= 0) {
        hasVideo = vid.format == MPV_FORMAT_INT64 && vid.u.int64 > 0;
        mpv_free_node_contents(&vid);
    }
    // A stream that cannot be sought (a pipe) is played once. Set either way: the news of a
    // file already replaced may come after load() has reset it.
    int seekable = 1;
    if (mpv_get_property(core.get(), "seekable", MPV_FORMAT_FLAG, &seekable) < 0)
        seekable = 1;
    if (canSeek.exchange(seekable != 0) != (seekable != 0))
        applyLoop(true);
    post([this, hasVideo] {
        q->setHasVideo(hasVideo);
        emit q->fileLoaded();
    });
    checkForVideo();
}

void MpvEngine::Impl::onVideoReconfig() {
    qint64 w = 0;
    qint64 h = 0;
    if (mpv_get_property(core.get(), "dwidth", MPV_FORMAT_INT64, &w) < 0 ||
        mpv_get_property(core.get(), "dheight", MPV_FORMAT_INT64, &h) < 0)
        return;
    if (w <= 0 || h <= 0 || (w == sentWidth && h == sentHeight))
        return;
    sentWidth = w;
    sentHeight = h;
    post([this, w, h] { emit q->videoSizeChanged(int(w), int(h)); });
}

void MpvEngine::Impl::onEndFile(const mpv_event_end_file* end) {
    // Its tracks go with it; that is no news about the next file.
    loaded = false;
    watchingForFrames = false;
    if (end && end->reason == MPV_END_FILE_REASON_ERROR) {
        const QString reason = QString::fromUtf8(mpv_error_string(end->error));
        post([this, reason] { emit q->loadFailed(reason); });
    }
}

void MpvEngine::Impl::onPlaybackRestart() {
    checkForEmptyLoop();
    double position = 0;
    if (mpv_get_property(core.get(), "time-pos", MPV_FORMAT_DOUBLE, &position) < 0 ||
        !std::isfinite(position))
        position = 0;
    post([this, position] { emit q->seeked(position); });
}

void MpvEngine::Impl::onPropertyChange(const mpv_event& event) {
    const auto* prop = static_cast<const mpv_event_property*>(event.data);
    if (event.reply_userdata == kOwnObserver) {
        checkForVideo();
        return;
    }
    if (!prop || event.reply_userdata >= std::size(detail::kObserved))
        return;
    QVariant value;
    if (prop->format == MPV_FORMAT_NODE && prop->data) {
        const auto& node = *static_cast<const mpv_node*>(prop->data);
        value = std::string_view(prop->name) == "path" && node.format == MPV_FORMAT_STRING
                    ? QVariant(detail::callerPath(node.u.string))
                    : detail::toVariant(node);
    }
    const int which = int(event.reply_userdata);
    post([this, which, value] { q->onProperty(which, value); });
}

// A loaded file without a video track (or whose video could not be decoded) plays on without a
// picture: say so once, so that the host can show it.
void MpvEngine::Impl::checkForVideo() {
    if (!loaded || sentNoVideo)
        return;
    char* vid = mpv_get_property_string(core.get(), "vid");
    const bool none = vid && std::string_view(vid) == "no";
    mpv_free(vid);
    if (!none)
        return;
    sentNoVideo = true;
    post([this] { emit q->videoAbsent(); });
}

// A file with stream headers but not one frame in it plays nothing for ever, without a loop or
// an error: once the demuxer has read it all and nothing was shown or heard, it cannot play.
void MpvEngine::Impl::checkForFrames() {
    double time = 0;
    if (!loaded || framesHanded != framesAtLoad ||
        mpv_get_property(core.get(), "audio-pts", MPV_FORMAT_DOUBLE, &time) >= 0) {
        watchingForFrames = false;
        return;
    }
    // Decoders get a moment with what they were given.
    if (std::chrono::steady_clock::now() - loadedAt < std::chrono::milliseconds(750))
        return;
    mpv_node cache{};
    if (mpv_get_property(core.get(), "demuxer-cache-state", MPV_FORMAT_NODE, &cache) < 0)
        return;
    bool eof = false;
    std::int64_t ahead = 0;
    if (cache.format == MPV_FORMAT_NODE_MAP)
        for (int i = 0; i < cache.u.list->num; ++i) {
            const std::string_view key = cache.u.list->keys[i];
            const mpv_node& v = cache.u.list->values[i];
            if (key == "eof" && v.format == MPV_FORMAT_FLAG)
                eof = v.u.flag != 0;
            else if (key == "fw-bytes" && v.format == MPV_FORMAT_INT64)
                ahead = v.u.int64;
        }
    mpv_free_node_contents(&cache);
    if (!eof || ahead > 0)
        return;
    watchingForFrames = false;
    const char* stop[] = {"stop", nullptr};
    mpv_command_async(core.get(), 0, stop);
    const QString reason = QStringLiteral("the file holds no frame to play");
    post([this, reason] { emit q->loadFailed(reason); });
}

// A file emptied or cut short while it plays would be looped over in a tight loop, with nothing
// to show; stop it and report it as unplayable instead. A picture shown since the last restart,
// or sound played, is what tells a file that plays: timestamps may run any way.
void MpvEngine::Impl::checkForEmptyLoop() {
    const std::uint64_t handed = framesHanded;
    const std::uint64_t frames = handed - framesAtRestart;
    framesAtRestart = handed;
    double time = 0;
    const bool sound = mpv_get_property(core.get(), "audio-pts", MPV_FORMAT_DOUBLE, &time) >= 0;
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    if (stillLoops.restarted(frames, seekAsked.exchange(false), now)) {
        // One picture, looped over and over: hold it instead.
        stillLoops.reset();
        mpv_set_property_string(core.get(), "pause", "yes");
    }
    if (!emptyLoops.restarted(frames > 0 || sound, now))
        return;
    emptyLoops.reset();
    const char* stop[] = {"stop", nullptr};
    mpv_command_async(core.get(), 0, stop);
    const QString reason = QStringLiteral("the file no longer holds anything to play");
    post([this, reason] { emit q->loadFailed(reason); });
}

} // namespace movarin
