#include "engine/engine_log.h"
#include "engine/flv_stream.h"
#include "engine/mpv_engine_impl.h"
#include "engine/mpv_properties.h"

#include <chrono>
#include <cmath>
#include <iterator>
#include <string_view>
#include <utility>

#include <utility>

namespace movarin {

void MpvEngine::Impl::eventLoop() {
    // On each wakeup the queue is drained: mpv_wait_event returns at once while events wait.
    while (!events.stop) {
        mpv_event* event = mpv_wait_event(core.get(), watchingForFrames ? 0.25 : -1);
        if (event->event_id == MPV_EVENT_SHUTDOWN)
            return;
        if (event->event_id != MPV_EVENT_NONE)
            handle(*event);
        // Looked at on a clock: while sound plays, events come quicker than the timeout.
        if (const auto now = std::chrono::steady_clock::now();
            watchingForFrames && now >= nextLook) {
            nextLook = now + std::chrono::milliseconds(250);
            checkForFrames();
        }
    }
}

namespace {

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Paused by the user: held at the end by the engine is no pause of the user's.
bool pausedByUser(mpv_handle* core) {
    int paused = 0;
    int atEnd = 0;
    return mpv_get_property(core, "pause", MPV_FORMAT_FLAG, &paused) >= 0 && paused &&
           !(mpv_get_property(core, "eof-reached", MPV_FORMAT_FLAG, &atEnd) >= 0 && atEnd);
}

// The video decoder has given out a picture of this file, whether or not it is shown yet.
bool pictureDecoded(mpv_handle* core) {
    std::int64_t width = 0;
    return mpv_get_property(core, "video-dec-params/w", MPV_FORMAT_INT64, &width) >= 0 &&
           width > 0;
}

// What the demuxer holds and has read of the file.
struct CacheState {
    bool known = false;
    bool eof = false;
    bool underrun = false;
    std::int64_t ahead = 0;
};

CacheState cacheState(mpv_handle* core) {
    CacheState state;
    mpv_node cache{};
    if (mpv_get_property(core, "demuxer-cache-state", MPV_FORMAT_NODE, &cache) < 0)
        return state;
    state.known = true;
    if (cache.format == MPV_FORMAT_NODE_MAP)
        for (int i = 0; i < cache.u.list->num; ++i) {
            const std::string_view key = cache.u.list->keys[i];
            const mpv_node& v = cache.u.list->values[i];
            if (key == "eof" && v.format == MPV_FORMAT_FLAG)
                state.eof = v.u.flag != 0;
            else if (key == "underrun" && v.format == MPV_FORMAT_FLAG)
                state.underrun = v.u.flag != 0;
            else if (key == "fw-bytes" && v.format == MPV_FORMAT_INT64)
                state.ahead = v.u.int64;
        }
    mpv_free_node_contents(&cache);
    return state;
}

} // namespace

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
    case MPV_EVENT_LOG_MESSAGE:
        if (const auto* log = static_cast<const mpv_event_log_message*>(event.data))
            detail::engine_log_message(log->level, log->prefix, log->text);
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
    nextLook = loadedAt + std::chrono::milliseconds(250);
    firstPlay.start(nowMs());
    // Read once the tracks are chosen: the selected video track's number, or false when the
    // file has none. Watching it instead could carry the last file's value over.
    const bool hasVideo = detail::track_number(core.get(), "vid") > 0;
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
    // The GPU renderer turns the picture as its metadata asks, after the size is reported.
    if (qint64 rotate = 0;
        renderingOnGpu &&
        mpv_get_property(core.get(), "video-params/rotate", MPV_FORMAT_INT64, &rotate) >= 0 &&
        rotate % 180 != 0)
        std::swap(w, h);
    if (w <= 0 || h <= 0 || (w == sentWidth && h == sentHeight))
        return;
    sentWidth = w;
    sentHeight = h;
    post([this, w, h] { emit q->videoSizeChanged(int(w), int(h)); });
}

void MpvEngine::Impl::onEndFile(const mpv_event_end_file* end) {
    // Its tracks go with it; that is no news about the next file.
    const bool wasLoaded = std::exchange(loaded, false);
    watchingForFrames = false;
    if (end && end->reason == MPV_END_FILE_REASON_ERROR) {
        if (wasLoaded && sentWidth == 0 && retryWithoutVideo())
            return;
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
    if (!loaded || sentNoVideo || reattachingVideo)
        return;
    char* vid = mpv_get_property_string(core.get(), "vid");
    const bool none = vid && std::string_view(vid) == "no";
    mpv_free(vid);
    if (!none)
        return;
    sentNoVideo = true;
    post([this] { emit q->videoAbsent(); });
}

// The engine gives up on a file whose chosen video cannot be decoded before it has set up the
// sound, though the sound alone would play, and by then it no longer tells which tracks failed:
// a file that fails once loaded, before any picture, is loaded once more without its video. A
// file without sound then fails at once. Not when a newer file has been handed over meanwhile,
// which replaces it anyway.
bool MpvEngine::Impl::retryWithoutVideo() {
    std::lock_guard lock(loadLock);
    if (retriedWithoutVideo || loadedAddress.empty())
        return false;
    // By now the ended file's own properties may be gone; the playlist still names it.
    char* entry = mpv_get_property_string(core.get(), "playlist/0/filename");
    const bool current = entry && loadedAddress == entry;
    mpv_free(entry);
    if (!current)
        return false;
    retriedWithoutVideo = true;
    mpv_set_property_string(core.get(), "vid", "no");
    const char* args[] = {"loadfile", loadedAddress.c_str(), "replace", nullptr};
    return mpv_command_async(core.get(), 0, args) >= 0;
}

// Until the loaded file shows a picture or plays sound. A file with stream headers but not one
// frame in it plays nothing for ever, without a loop or an error; so does one whose decoders
// take every packet and give nothing back. The first is told by the demuxer having read it all,
// the second by time (FirstPlayGuard). Sound without the picture expected is sound only.
void MpvEngine::Impl::checkForFrames() {
    if (!loaded) {
        watchingForFrames = false;
        return;
    }
    double time = 0;
    playback::FirstPlayGuard::Look look;
    look.nowMs = nowMs();
    // The video output takes its size from this file's first decoded picture. Frames handed
    // over tell less: the output may still redraw the last file's.
    look.pictureShown = sentWidth > 0;
    look.sound = mpv_get_property(core.get(), "audio-pts", MPV_FORMAT_DOUBLE, &time) >= 0;
    look.videoExpected = detail::track_number(core.get(), "vid") > 0;
    look.paused = pausedByUser(core.get());
    const CacheState cache = cacheState(core.get());
    // A file on disk has all its bytes at hand; only a pipe's writer may keep it waiting.
    look.waitingForInput = !canSeek && cache.underrun && !cache.eof;

    switch (firstPlay.look(look)) {
    case playback::FirstPlayGuard::Verdict::Plays:
        watchingForFrames = false;
        return;
    case playback::FirstPlayGuard::Verdict::NoPicture:
        watchingForFrames = false;
        if (!std::exchange(sentNoVideo, true))
            post([this] { emit q->videoAbsent(); });
        return;
    case playback::FirstPlayGuard::Verdict::Unplayable:
        break;
    case playback::FirstPlayGuard::Verdict::Wait:
        // Decoders get a moment with what they were given; once the demuxer has read the file
        // and nothing is left for them, nothing more can come. Unless a picture has been
        // decoded: a tiny file is read whole at once, and its few pictures may still be on
        // their way to the output on a slow machine (the five-second rule still holds).
        if (look.sound ||
            std::chrono::steady_clock::now() - loadedAt < std::chrono::milliseconds(750) ||
            !cache.known || !cache.eof || cache.ahead > 0 || pictureDecoded(core.get()))
            return;
        break;
    }
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
