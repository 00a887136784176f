#include "engine/mpv_engine.h"

#include "engine/engine_log.h"
#include "engine/flv_stream.h"
#include "engine/mpv_engine_impl.h"
#include "engine/mpv_properties.h"
#include "engine/path_bytes.h"

#include <mpv/stream_cb.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace movarin {

using detail::fail;

void MpvEngine::Impl::setOptions(const QStringList& extraOptions) {
    mpv_handle* h = core.get();
    // The host draws the picture itself, stretched over its whole extent, looping, and takes no
    // input or configuration of the user's own mpv set-up. Without looping it stops on the last
    // picture instead of going blank, so Play can start over; a newly loaded file always starts
    // playing, even after a pause; and the volume's scale is the controls' whole range, so
    // stepping stops at its end.
    const QByteArray volumeMax = QByteArray::number(playback::kVolumeMax);
    const std::pair<const char*, const char*> options[] = {
        {"vo", "libmpv"},
        {"config", "no"},
        {"terminal", "no"},
        {"idle", "yes"},
        {"loop-file", "inf"},
        {"keepaspect", "no"},
        {"background", "#000000"},
        {"hwdec", "no"},
        // Frames are converted to RGB in software: swscale's fast path costs a fraction of
        // zimg's exact one, and at the video's own size it converts without scaling at all.
        {"sws-allow-zimg", "no"},
        {"sws-fast", "yes"},
        {"sws-scaler", "fast-bilinear"},
        // One decoder thread: each further frame thread keeps frames and tables of its own
        // (about 7 MiB at 1080p) and delays output by a frame; one core decodes FLV-sized video
        // in real time.
        {"vd-lavc-threads", "1"},
        // Frames are handed over when they are due rather than 50 ms early: the picture is
        // drawn on the GUI thread, which must not sit waiting for a frame's display time.
        {"video-timing-offset", "0"},
        {"osc", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        // Covers are found, read and decoded by the player (mpv_cover.cpp), never by the engine,
        // which would hold the sound back while it reads and decodes them.
        {"audio-display", "no"},
        {"cover-art-auto", "no"},
        {"ytdl", "no"},
        {"load-scripts", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        // Conditional profiles need a script thread and a Lua state; nothing here uses them.
        {"load-auto-profiles", "no"},
        // Without a sound device the audio still runs, silently, so the time advances.
        {"audio-fallback-to-null", "yes"},
        {"keep-open", "yes"},
        {"reset-on-next-file", "pause"},
        // Every seek lands where it was asked, steps included: an FLV file's index points lie
        // a little after the keyframes they lead to, and decoding on from there is exact.
        {"hr-seek", "yes"},
        {"volume-max", volumeMax.constData()},
    };
    for (const auto& [name, value] : options)
        mpv_set_option_string(h, name, value); // an option this build lacks is not fatal
    for (const QString& option : extraOptions) {
        const auto eq = option.indexOf(u'=');
        const QByteArray name = option.left(eq).toUtf8();
        const QByteArray value = eq < 0 ? QByteArray("yes") : option.mid(eq + 1).toUtf8();
        if (const int err = mpv_set_option_string(h, name.constData(), value.constData()); err < 0)
            fail("Invalid playback option " + option.toStdString(), err);
    }
}

void MpvEngine::Impl::start() {
    mpv_handle* h = core.get();
    if (const int err = mpv_initialize(h); err < 0)
        fail("The playback engine could not start", err);
    if (const int err =
            mpv_stream_cb_add_ro(h, detail::kFlvProtocol, &flvOpening, &detail::openFlvStream);
        err < 0)
        fail("The FLV reader could not be registered", err);
    if (const int err =
            mpv_stream_cb_add_ro(h, detail::kPipeProtocol, &flvOpening, &detail::openPipeStream);
        err < 0)
        fail("The pipe reader could not be registered", err);
    mpv_request_log_messages(h, detail::engine_log_level());
    char* loop = mpv_get_property_string(h, "loop-file");
    loopWanted = loop && playback::loop_enabled(loop);
    mpv_free(loop);
    if (const int err = mpv_observe_property(h, kOwnObserver, "vid", MPV_FORMAT_NONE); err < 0)
        fail("Watching the video track failed", err);
    for (std::size_t i = 0; i < std::size(detail::kObserved); ++i)
        if (const int err = mpv_observe_property(h, i, detail::kObserved[i].name, MPV_FORMAT_NODE);
            err < 0)
            fail(std::string("Watching ") + detail::kObserved[i].name + " failed", err);
}

void MpvEngine::Impl::applyLoop(bool wait) {
    std::lock_guard lock(loopLock);
    const char* value = loopWanted && canSeek ? "inf" : "no";
    if (wait)
        mpv_set_property_string(core.get(), "loop-file", value);
    else
        mpv_set_property_async(core.get(), 0, "loop-file", MPV_FORMAT_STRING, &value);
}

MpvEngine::MpvEngine(const QStringList& extraOptions, VideoOutput output, QObject* parent)
    : VideoEngine(parent), d(std::make_unique<Impl>(this)) {
    d->core.reset(mpv_create());
    if (!d->core)
        throw std::runtime_error(
            "The playback engine could not be created (is LC_NUMERIC set to \"C\"?)");
    d->setOptions(extraOptions);
    d->start();
    if (output != VideoOutput::Gl || !d->createGlRenderer())
        d->createRenderer();
    d->watchForRotation();
    d->keepCoversFromProbing();
    connect(this, &VideoEngine::videoAbsent, this, [this] { d->lookForCover(); });
    d->events.core = d->core.get();
    d->events.thread = std::thread([impl = d.get()] { impl->eventLoop(); });
}

MpvEngine::~MpvEngine() {
    d->forgetCover();
    d->closing = true;
    d->releaseRenderer();
    d->events.join();
    d->core.reset();
}

void MpvEngine::load(const QString& path) {
    d->forgetCover();
    const std::string file = detail::engineAddress(to_path_bytes(path));
    // The repairing reader only ever yields FLV, so the engine is told to use FFmpeg's reader
    // instead of trying its own first. These are the engine's global settings, not the load's
    // own: libmpv 0.35 leaks a load's own settings. The FFmpeg format is not forced as well:
    // once set, that setting cannot be emptied again (an empty name is taken as a format that
    // does not exist), and every other file after an FLV would fail to open.
    const bool flv = file.starts_with(detail::kFlvPrefix);
    mpv_set_property_string(d->core.get(), "demuxer", flv ? "lavf" : "");
    // Until it turns out to be a pipe, the new file loops as asked.
    d->canSeek = true;
    d->applyLoop(true);
    std::lock_guard lock(d->loadLock);
    // The last file's second try may have turned its video off.
    mpv_set_property_string(d->core.get(), "vid", "auto");
    d->loadedAddress = file;
    d->retriedWithoutVideo = false;
    const char* args[] = {"loadfile", file.c_str(), "replace", nullptr};
    if (const int err = mpv_command(d->core.get(), args); err < 0)
        fail("The video could not be loaded", err);
}

void MpvEngine::onProperty(int which, const QVariant& value) {
    PlayerState next = state();
    detail::kObserved[which].apply(next, value);
    next.looping = d->loopWanted; // what the engine does with a pipe is no change of setting
    // An FLV file's length is its tags' timeline, which a growing recording extends.
    if (const double tags = d->flvTimeline.duration(); tags > 0 && !next.path.isEmpty())
        next.duration = tags;
    report(next);
}

void MpvEngine::setHasVideo(bool hasVideo) {
    PlayerState next = state();
    next.hasVideo = hasVideo;
    report(next);
}

// A refused command or property leaves the picture as it is; the next report shows the real
// state, so there is nothing to tell.
void MpvEngine::command(const QStringList& args) {
    std::vector<QByteArray> storage;
    storage.reserve(args.size() + 1);
    std::vector<const char*> argv;
    // Nothing the player does is shown on the picture by the engine itself.
    for (const QString& arg : QStringList{QStringLiteral("no-osd")} + args) {
        storage.push_back(arg.toUtf8());
        argv.push_back(storage.back().constData());
    }
    argv.push_back(nullptr);
    mpv_command_async(d->core.get(), 0, argv.data());
}

void MpvEngine::setPropertyAsync(const char* name, const QVariant& value) {
    detail::NodeValue converted(value);
    mpv_set_property_async(d->core.get(), 0, name, MPV_FORMAT_NODE, &converted.node);
}

// Toggles and steps are done by the engine itself, so requests quicker than its reports still
// add up correctly.

void MpvEngine::play() {
    if (atEnd()) {
        if (!d->canSeek)
            return; // a pipe that has ended has nothing more to play
        seekTo(0);  // stopped on the last picture: start again from the beginning
    }
    setPropertyAsync("pause", false);
}

void MpvEngine::pause() {
    setPropertyAsync("pause", true);
}

void MpvEngine::togglePause() {
    if (atEnd())
        play();
    else
        command({QStringLiteral("cycle"), QStringLiteral("pause")});
}

// Seeks stay within the timeline the tags hold: past its last frame the engine would find the
// end and, looping, start the file over.
void MpvEngine::seekTo(double seconds) {
    d->seekAsked = true;
    if (const double last = d->flvTimeline.lastFrame(); last > 0)
        seconds = std::clamp(seconds, 0.0, last);
    command({QStringLiteral("seek"), QString::number(seconds), QStringLiteral("absolute")});
}

void MpvEngine::seekBy(double seconds) {
    d->seekAsked = true;
    if (const double last = d->flvTimeline.lastFrame();
        last > 0 && seconds > 0 && position() + seconds > last) {
        seekTo(last);
        return;
    }
    command({QStringLiteral("seek"), QString::number(seconds), QStringLiteral("relative")});
}

void MpvEngine::setVolume(double volume) {
    setPropertyAsync("volume", playback::clamped_volume(volume));
}

void MpvEngine::changeVolume(double by) {
    command({QStringLiteral("add"), QStringLiteral("volume"), QString::number(by)});
}

void MpvEngine::setMuted(bool muted) {
    setPropertyAsync("mute", muted);
}

void MpvEngine::toggleMute() {
    command({QStringLiteral("cycle"), QStringLiteral("mute")});
}

void MpvEngine::setLooping(bool looping) {
    d->loopWanted = looping;
    d->applyLoop(false);
    // Reported at once: while a pipe plays, the engine's own setting does not change with it.
    PlayerState next = state();
    next.looping = looping;
    report(next);
}

QStringList noSoundOptions() {
    return {QStringLiteral("ao=null")};
}

QString noVideoOutputOption() {
    return QStringLiteral("vo=null");
}

std::unique_ptr<VideoEngine> make_video_engine(const QStringList& extraOptions,
                                               VideoOutput output) {
    return std::make_unique<MpvEngine>(extraOptions, output);
}

} // namespace movarin
