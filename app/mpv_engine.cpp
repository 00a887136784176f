#include "app/mpv_engine.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QMetaObject>
#include <QPointer>
#include <QSysInfo>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace movarin {

namespace {

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + mpv_error_string(error));
}

QVariant toVariant(const mpv_node& node) {
    switch (node.format) {
    case MPV_FORMAT_FLAG:
        return QVariant(node.u.flag != 0);
    case MPV_FORMAT_INT64:
        return QVariant(static_cast<qlonglong>(node.u.int64));
    case MPV_FORMAT_DOUBLE:
        return QVariant(node.u.double_);
    case MPV_FORMAT_STRING:
        return QVariant(QString::fromUtf8(node.u.string));
    default:
        return {};
    }
}

// Keeps the converted value and the storage its string points to together.
struct NodeValue {
    mpv_node node{};
    QByteArray text;
    explicit NodeValue(const QVariant& value) {
        switch (value.typeId()) {
        case QMetaType::Bool:
            node.format = MPV_FORMAT_FLAG;
            node.u.flag = value.toBool() ? 1 : 0;
            break;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            node.format = MPV_FORMAT_INT64;
            node.u.int64 = value.toLongLong();
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            node.format = MPV_FORMAT_DOUBLE;
            node.u.double_ = value.toDouble();
            break;
        default:
            text = value.toString().toUtf8();
            node.format = MPV_FORMAT_STRING;
            node.u.string = text.data();
        }
    }
};

// Frames are rendered in the layout of QImage::Format_RGB32, the backing store's own, so that
// painting them needs no conversion.
const char* nativeFrameFormat() {
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "bgr0" : "0rgb";
}

// Frame memory is reused: a fresh allocation of several MiB for every frame costs page faults on
// every frame. Rows are 64-byte aligned, as mpv's fast paths want. A frame the GUI still holds
// keeps the pool alive, so the engine may go first.
class FramePool : public std::enable_shared_from_this<FramePool> {
public:
    ~FramePool() {
        for (void* memory : m_free)
            std::free(memory);
    }

    QImage take(QSize size) {
        const qsizetype stride = (static_cast<qsizetype>(size.width()) * 4 + 63) / 64 * 64;
        void* memory = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (size != m_size) {
                for (void* old : m_free)
                    std::free(old);
                m_free.clear();
                m_size = size;
            }
            if (!m_free.empty()) {
                memory = m_free.back();
                m_free.pop_back();
            }
        }
        if (!memory)
            memory = std::aligned_alloc(64, static_cast<std::size_t>(stride) * size.height());
        if (!memory)
            return {};
        auto* ticket = new Ticket{shared_from_this(), memory, size};
        return QImage(static_cast<uchar*>(memory), size.width(), size.height(), stride,
                      QImage::Format_RGB32, &FramePool::giveBack, ticket);
    }

private:
    struct Ticket {
        std::shared_ptr<FramePool> pool;
        void* memory;
        QSize size;
    };

    static void giveBack(void* info) {
        std::unique_ptr<Ticket> ticket(static_cast<Ticket*>(info));
        FramePool& pool = *ticket->pool;
        std::lock_guard lock(pool.m_mutex);
        if (ticket->size == pool.m_size && pool.m_free.size() < kKept)
            pool.m_free.push_back(ticket->memory);
        else
            std::free(ticket->memory);
    }

    static constexpr std::size_t kKept = 3;
    std::mutex m_mutex;
    QSize m_size;
    std::vector<void*> m_free;
};

} // namespace

struct MpvEngine::Impl {
    MpvEngine* q;

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

    struct RenderThread {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        bool updatePending = false;
        bool sizeDirty = false;
        QSize size;
        QImage latest;
        bool delivering = false;
        std::shared_ptr<FramePool> frames = std::make_shared<FramePool>();
        std::thread thread;
        void join() {
            if (thread.joinable()) {
                {
                    std::lock_guard lock(mutex);
                    stop = true;
                }
                wake.notify_all();
                thread.join();
            }
        }
        ~RenderThread() { join(); }
    } renderer;

    // Event-thread state.
    qint64 sentWidth = 0;
    qint64 sentHeight = 0;

    explicit Impl(MpvEngine* owner) : q(owner) {}

    template <typename F> void post(F&& f) {
        QMetaObject::invokeMethod(q, std::forward<F>(f), Qt::QueuedConnection);
    }

    static void onRenderUpdate(void* self) {
        // Called on mpv's threads: only note the request and wake our render thread.
        auto* impl = static_cast<Impl*>(self);
        {
            std::lock_guard lock(impl->renderer.mutex);
            impl->renderer.updatePending = true;
        }
        impl->renderer.wake.notify_one();
    }

    void renderLoop() {
        for (;;) {
            bool update = false;
            bool resized = false;
            QSize size;
            {
                std::unique_lock lock(renderer.mutex);
                // A frame the GUI has not taken yet holds the next one back: rendering ahead
                // of the GUI only costs a frame buffer and a conversion that nobody sees.
                renderer.wake.wait(lock, [this] {
                    return renderer.stop ||
                           ((renderer.updatePending || renderer.sizeDirty) && !renderer.delivering);
                });
                if (renderer.stop)
                    return;
                update = std::exchange(renderer.updatePending, false);
                resized = std::exchange(renderer.sizeDirty, false);
                size = renderer.size;
            }
            bool draw = resized;
            if (update &&
                (mpv_render_context_update(renderContext.get()) & MPV_RENDER_UPDATE_FRAME))
                draw = true;
            if (!draw || size.isEmpty())
                continue;
            QImage frame = renderer.frames->take(size);
            if (frame.isNull())
                continue;
            int sw[2] = {size.width(), size.height()};
            char format[8];
            std::strncpy(format, nativeFrameFormat(), sizeof format);
            std::size_t stride = static_cast<std::size_t>(frame.bytesPerLine());
            mpv_render_param params[] = {
                {MPV_RENDER_PARAM_SW_SIZE, sw},        {MPV_RENDER_PARAM_SW_FORMAT, format},
                {MPV_RENDER_PARAM_SW_STRIDE, &stride}, {MPV_RENDER_PARAM_SW_POINTER, frame.bits()},
                {MPV_RENDER_PARAM_INVALID, nullptr},
            };
            if (mpv_render_context_render(renderContext.get(), params) < 0)
                continue;
            deliver(std::move(frame));
        }
    }

    // One frame at a time is on its way to the GUI; the render thread waits for it to be taken,
    // so a GUI that falls behind skips frames instead of queueing them.
    void deliver(QImage frame) {
        {
            std::lock_guard lock(renderer.mutex);
            renderer.latest = std::move(frame);
            renderer.delivering = true;
        }
        post([this] {
            QImage image;
            {
                std::lock_guard lock(renderer.mutex);
                image = std::exchange(renderer.latest, QImage());
            }
            if (!image.isNull())
                emit q->frameRendered(image);
            // The receivers have let go of the frame before this one, so its memory is free for
            // the next render.
            image = QImage();
            {
                std::lock_guard lock(renderer.mutex);
                renderer.delivering = false;
            }
            renderer.wake.notify_one();
        });
    }

    void eventLoop() {
        while (!events.stop) {
            mpv_event* event = mpv_wait_event(core.get(), -1);
            if (event->event_id == MPV_EVENT_SHUTDOWN)
                return;
            handle(*event);
        }
    }

    void handle(const mpv_event& event) {
        switch (event.event_id) {
        case MPV_EVENT_START_FILE:
            sentWidth = sentHeight = 0;
            post([this] { emit q->fileStarted(); });
            break;
        case MPV_EVENT_FILE_LOADED:
            post([this] { emit q->fileLoaded(); });
            break;
        case MPV_EVENT_VIDEO_RECONFIG: {
            qint64 w = 0;
            qint64 h = 0;
            if (mpv_get_property(core.get(), "dwidth", MPV_FORMAT_INT64, &w) < 0 ||
                mpv_get_property(core.get(), "dheight", MPV_FORMAT_INT64, &h) < 0)
                break;
            if (w <= 0 || h <= 0 || (w == sentWidth && h == sentHeight))
                break;
            sentWidth = w;
            sentHeight = h;
            post([this, w, h] { emit q->videoSizeChanged(int(w), int(h)); });
            break;
        }
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<const mpv_event_end_file*>(event.data);
            if (end && end->reason == MPV_END_FILE_REASON_ERROR) {
                const QString reason = QString::fromUtf8(mpv_error_string(end->error));
                post([this, reason] { emit q->loadFailed(reason); });
            }
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* prop = static_cast<const mpv_event_property*>(event.data);
            if (!prop || !prop->name)
                break;
            QVariant value;
            if (prop->format == MPV_FORMAT_NODE && prop->data)
                value = toVariant(*static_cast<const mpv_node*>(prop->data));
            const QString name = QString::fromUtf8(prop->name);
            post([this, name, value] { emit q->propertyChanged(name, value); });
            break;
        }
        default:
            break;
        }
    }
};

MpvEngine::MpvEngine(const QStringList& extraOptions, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(this)) {
    d->core.reset(mpv_create());
    if (!d->core)
        throw std::runtime_error(
            "The playback engine could not be created (is LC_NUMERIC set to \"C\"?)");
    mpv_handle* h = d->core.get();

    // The host draws the picture itself, stretched over its whole extent, looping, and takes no
    // input or configuration of the user's own mpv set-up.
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
        {"osc", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"audio-display", "no"},
        {"ytdl", "no"},
        {"load-scripts", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
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
    if (const int err = mpv_initialize(h); err < 0)
        fail("The playback engine could not start", err);

    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context* context = nullptr;
    if (const int err = mpv_render_context_create(&context, h, params); err < 0)
        fail("The video renderer could not be created", err);
    d->renderContext.reset(context);
    mpv_render_context_set_update_callback(context, &Impl::onRenderUpdate, d.get());

    d->events.core = h;
    d->events.thread = std::thread([impl = d.get()] { impl->eventLoop(); });
    d->renderer.thread = std::thread([impl = d.get()] { impl->renderLoop(); });
}

MpvEngine::~MpvEngine() {
    // The render thread stops before the context it draws with goes away.
    d->renderer.join();
    d->renderContext.reset();
    d->events.join();
    d->core.reset();
}

void MpvEngine::loadFile(const QString& path) {
    const QByteArray file = path.toUtf8();
    const char* args[] = {"loadfile", file.constData(), "replace", nullptr};
    if (const int err = mpv_command(d->core.get(), args); err < 0)
        fail("The video could not be loaded", err);
}

void MpvEngine::setTargetSize(QSize deviceSize) {
    {
        std::lock_guard lock(d->renderer.mutex);
        if (d->renderer.size == deviceSize)
            return;
        d->renderer.size = deviceSize;
        d->renderer.sizeDirty = true;
    }
    d->renderer.wake.notify_one();
}

QVariant MpvEngine::property(const char* name) const {
    mpv_node node{};
    if (mpv_get_property(d->core.get(), name, MPV_FORMAT_NODE, &node) < 0)
        return {};
    QVariant value = toVariant(node);
    mpv_free_node_contents(&node);
    return value;
}

void MpvEngine::setProperty(const char* name, const QVariant& value) {
    NodeValue converted(value);
    if (const int err = mpv_set_property(d->core.get(), name, MPV_FORMAT_NODE, &converted.node);
        err < 0)
        fail(std::string("Setting ") + name + " failed", err);
}

void MpvEngine::commandAsync(const QStringList& args) {
    std::vector<QByteArray> storage;
    storage.reserve(args.size());
    std::vector<const char*> argv;
    for (const QString& arg : args) {
        storage.push_back(arg.toUtf8());
        argv.push_back(storage.back().constData());
    }
    argv.push_back(nullptr);
    if (const int err = mpv_command_async(d->core.get(), 0, argv.data()); err < 0)
        fail("The command could not be sent", err);
}

void MpvEngine::setPropertyAsync(const char* name, const QVariant& value) {
    NodeValue converted(value);
    if (const int err =
            mpv_set_property_async(d->core.get(), 0, name, MPV_FORMAT_NODE, &converted.node);
        err < 0)
        fail(std::string("Setting ") + name + " failed", err);
}

void MpvEngine::observe(const char* name) {
    if (const int err = mpv_observe_property(d->core.get(), 0, name, MPV_FORMAT_NODE); err < 0)
        fail(std::string("Watching ") + name + " failed", err);
}

} // namespace movarin
