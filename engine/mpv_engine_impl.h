#pragma once

#include "engine/flv_stream.h"
#include "engine/frame_pool.h"
#include "engine/mpv_engine.h"
#include "engine/playback_state.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace movarin {

// What MpvEngine owns, shared by the files that make it up: start-up and the verbs
// (mpv_engine.cpp), the event loop (mpv_events.cpp) and the render path (mpv_render.cpp).
struct MpvEngine::Impl {
    MpvEngine* q;

    // The render context draws into memory in software, which cannot turn a picture: rotated
    // videos are turned upright by a video filter instead (see mpv_upright.cpp).
    bool softwareRender = true;

    // Turns true as shutdown starts, so that the FLV reader stops scanning; it outlives the core
    // and with it every stream.
    std::atomic<bool> closing{false};

    // Declared in the order opposite to shutdown: members are destroyed bottom-up, and libmpv
    // aborts unless the render context goes first, then the event thread, then the core.
    struct CoreDeleter {
        void operator()(mpv_handle* h) const { mpv_terminate_destroy(h); }
    };
    std::unique_ptr<mpv_handle, CoreDeleter> core;

    struct EventThread {
        mpv_handle* core = nullptr;
        std::atomic<bool> stop{false};
        std::thread thread;
        void join() {
            if (thread.joinable()) {
                stop = true;
                mpv_wakeup(core);
                thread.join();
            }
        }
        ~EventThread() { join(); }
    } events;

    struct RenderContextDeleter {
        void operator()(mpv_render_context* c) const { mpv_render_context_free(c); }
    };
    std::unique_ptr<mpv_render_context, RenderContextDeleter> renderContext;

    // Pictures are drawn on the GUI thread, into whatever memory the caller paints with; the
    // engine's threads only say that one is due. One notice at a time is on its way.
    std::atomic<bool> updatePosted{false};
    std::shared_ptr<detail::FramePool> frames = std::make_shared<detail::FramePool>();

    // The FLV file being read, as its tags tell it; written on the demuxer thread.
    detail::FlvTimeline flvTimeline;
    detail::FlvOpening flvOpening{&closing, &flvTimeline};

    // Event-thread state.
    qint64 sentWidth = 0;
    qint64 sentHeight = 0;
    bool loaded = false;
    bool sentNoVideo = false;
    playback::EmptyLoopGuard emptyLoops;
    playback::StillLoopGuard stillLoops;
    // Pictures handed over so far (GUI thread), and what the last restart saw of them.
    std::atomic<std::uint64_t> framesHanded{0};
    std::uint64_t framesAtRestart = 0;
    // Until the loaded file shows or plays something.
    bool watchingForFrames = false;
    std::chrono::steady_clock::time_point loadedAt;
    std::uint64_t framesAtLoad = 0;
    // A seek was asked for since the last restart, so the next one is no loop.
    std::atomic<bool> seekAsked{false};
    // Looping as asked for, and whether the file can be sought: a pipe plays once, since at its
    // end a loop would only seek in vain, over and over. The engine's loop setting is always
    // the two together, set under the lock so that the last one set wins.
    std::atomic<bool> loopWanted{true};
    std::atomic<bool> canSeek{true};
    std::mutex loopLock;
    void applyLoop(bool wait);
    // Replies to the engine's own property observers, kept apart from the controls' ones.
    static constexpr std::uint64_t kOwnObserver = 0x6d6f7661;
    // The hook that runs once a file's tracks are chosen, before its video output starts.
    static constexpr std::uint64_t kPreloadedHook = 0x7570;

    explicit Impl(MpvEngine* owner) : q(owner) {}

    template <typename F> void post(F&& f) {
        QMetaObject::invokeMethod(q, std::forward<F>(f), Qt::QueuedConnection);
    }

    // Start-up, in this order.
    void setOptions(const QStringList& extraOptions);
    void start();
    void createRenderer();

    // Render path.
    static void onRenderUpdate(void* self);
    void takeUpdate();
    bool render(uchar* bits, QSize size, qsizetype stride,
                QImage::Format layout = QImage::Format_RGB32);

    // Event loop, on its own thread.
    void eventLoop();
    void handle(const mpv_event& event);
    void onStartFile();
    void onFileLoaded();
    void onVideoReconfig();
    void onEndFile(const mpv_event_end_file* end);
    void onPlaybackRestart();
    void onPropertyChange(const mpv_event& event);
    void checkForVideo();
    void checkForEmptyLoop();
    void checkForFrames();

    // Turning rotated pictures upright (software render path).
    void watchForRotation();
    void onHook(const mpv_event_hook* hook);
};

} // namespace movarin
