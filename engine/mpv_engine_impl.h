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
#include <string>
#include <thread>
#include <utility>

namespace movarin {

namespace detail {
struct GlTarget;
struct GlTargetDeleter {
    void operator()(GlTarget* target) const;
};
} // namespace detail

// What MpvEngine owns, shared by the files that make it up: start-up and the verbs
// (mpv_engine.cpp), the event loop (mpv_events.cpp) and the render path (mpv_render.cpp).
struct MpvEngine::Impl {
    MpvEngine* q;

    // Turns true as shutdown starts, so that the FLV reader stops scanning; it outlives the core
    // and with it every stream.
    std::atomic<bool> closing{false};

    // Declared in the order opposite to shutdown: members are destroyed bottom-up, and libmpv
    // aborts unless the render context goes first, then the event thread, then the core.
    struct CoreDeleter {
        void operator()(mpv_handle* h) const { mpv_terminate_destroy(h); }
    };
    std::unique_ptr<mpv_handle, CoreDeleter> core;

    // Events are read on a thread of their own because their handlers ask the core for
    // properties, and each such call waits while the core is busy (opening a file, a demuxer
    // scanning a damaged FLV): on the GUI thread that wait would stop painting and input. The
    // handlers hand their results to the GUI thread as queued calls.
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

    // The GL context the engine draws in, made before any window, and the texture it draws into;
    // it must outlive the render context made in it.
    std::unique_ptr<detail::GlTarget, detail::GlTargetDeleter> gl;

    struct RenderContextDeleter {
        void operator()(mpv_render_context* c) const { mpv_render_context_free(c); }
    };
    std::unique_ptr<mpv_render_context, RenderContextDeleter> renderContext;
    // Which render API the render context speaks: true for OpenGL, where the engine's GPU
    // renderer scales, rotates, reflects and tone-maps; false for drawing in memory. Set where
    // the render context is made, and nowhere else; read on the event thread too.
    std::atomic<bool> renderingOnGpu{false};
    // While the video track moves from the GL renderer to the memory one.
    std::atomic<bool> reattachingVideo{false};

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
    std::chrono::steady_clock::time_point nextLook;
    playback::FirstPlayGuard firstPlay;
    // Held while a file is handed to the engine, so that a second try of the current file is
    // never sent after a newer file; guards the two below.
    std::mutex loadLock;
    // The file last handed to the engine, as the engine names it, and whether it was tried a
    // second time already.
    std::string loadedAddress;
    bool retriedWithoutVideo = false;
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
    // A render context in a GL context of the engine's own, shared with the application's;
    // false, with nothing left made, where any step fails.
    bool createGlRenderer();
    // GL failed while playing: the picture goes on in memory.
    void fallBackToSoftware();
    // Frees the render context, in its GL context where it has one.
    void releaseRenderer();

    // Render path.
    static void onRenderUpdate(void* self);
    void takeUpdate();
    bool render(uchar* bits, QSize size, qsizetype stride,
                QImage::Format layout = QImage::Format_RGB32);
    unsigned renderGl(QSize size, bool skip = false);

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
    bool retryWithoutVideo();

    // Turning rotated pictures upright where the renderer cannot (drawing in memory): the
    // engine's own rotation off, and a filter per file. Once on, it stays on.
    bool rotationWatched = false;
    void watchForRotation();
    void applyUprightFilter();
    void onHook(const mpv_event_hook* hook);
};

} // namespace movarin
