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
        mpv_event* event = mpv_wait_event(core.get(), -1);
        if (event->event_id == MPV_EVENT_SHUTDOWN)
            return;
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
    default:
        break;
    }
}

void MpvEngine::Impl::onStartFile() {
    sentWidth = sentHeight = 0;
    loaded = sentNoVideo = false;
    emptyLoops.reset();
    post([this] {
        q->setHasVideo(false);
        emit q->fileStarted();
    });
}

void MpvEngine::Impl::onFileLoaded() {
    loaded = true;
    // Read once the tracks are chosen: the selected video track's number, or false when the
    // file has none. Watching it instead could carry the last file's value over.
    mpv_node vid{};
    bool hasVideo = false;
    if (mpv_get_property(core.get(), "vid", MPV_FORMAT_NODE, &vid) >= 0) {
        hasVideo = vid.format == MPV_FORMAT_INT64 && vid.u.int64 > 0;
        mpv_free_node_contents(&vid);
    }
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

// A file emptied or cut short while it plays would be looped over in a tight loop, with nothing
// to show; stop it and report it as unplayable instead.
void MpvEngine::Impl::checkForEmptyLoop() {
    double time = 0;
    const bool hasData =
        mpv_get_property(core.get(), "demuxer-cache-time", MPV_FORMAT_DOUBLE, &time) >= 0 ||
        mpv_get_property(core.get(), "audio-pts", MPV_FORMAT_DOUBLE, &time) >= 0;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    if (!emptyLoops.restarted(hasData,
                              std::chrono::duration_cast<std::chrono::milliseconds>(now).count()))
        return;
    emptyLoops.reset();
    const char* stop[] = {"stop", nullptr};
    mpv_command_async(core.get(), 0, stop);
    const QString reason = QStringLiteral("the file no longer holds anything to play");
    post([this, reason] { emit q->loadFailed(reason); });
}

} // namespace movarin
