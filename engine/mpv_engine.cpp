#include "engine/mpv_engine.h"

#include "engine/path_bytes.h"
#include "engine/playback_state.h"
#include "flv/flv_repair.h"

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/stream_cb.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMetaObject>
#include <QPointer>
#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
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

// Unavailable properties (no file yet) arrive as invalid values and read as 0.
double toNumber(const QVariant& value) {
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0;
}

bool loopFrom(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int:
        return loop_enabled(std::int64_t(value.toLongLong()));
    default:
        return loop_enabled(value.toString().toStdString());
    }
}

// The player's state is these properties, watched from the start; an observation's reply id is
// its index here.
struct Observed {
    const char* name;
    void (*apply)(PlayerState& state, const QVariant& value);
};
const Observed kObserved[] = {
    {"path", [](PlayerState& s, const QVariant& v) { s.path = v.toString(); }},
    {"media-title", [](PlayerState& s, const QVariant& v) { s.title = v.toString(); }},
    {"pause", [](PlayerState& s, const QVariant& v) { s.paused = v.toBool(); }},
    {"eof-reached", [](PlayerState& s, const QVariant& v) { s.atEnd = v.toBool(); }},
    {"time-pos", [](PlayerState& s, const QVariant& v) { s.position = toNumber(v); }},
    {"duration", [](PlayerState& s, const QVariant& v) { s.duration = toNumber(v); }},
    {"volume",
     [](PlayerState& s, const QVariant& v) { s.volume = v.isValid() ? toNumber(v) : s.volume; }},
    {"mute", [](PlayerState& s, const QVariant& v) { s.muted = v.toBool(); }},
    {"loop-file", [](PlayerState& s, const QVariant& v) { s.looping = loopFrom(v); }},
};

// Frames are rendered in the layout of the memory they are painted into, so that painting them
// needs no conversion. Premultiplied stores get an opaque alpha byte, which the padding byte of
// the RGB32 layout is not.
const char* frameFormat(QImage::Format format) {
    const bool little = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    switch (format) {
    case QImage::Format_RGB32:
        return little ? "bgr0" : "0rgb";
    case QImage::Format_ARGB32_Premultiplied:
        return little ? "bgra" : "argb";
    default:
        return nullptr;
    }
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

// FLV files reach the engine through the repairing reader, under a protocol of our own.
constexpr char kFlvProtocol[] = "movarin-flv";
constexpr char kFlvPrefix[] = "movarin-flv://";

class FileSource : public flv::ByteSource {
public:
    explicit FileSource(int fd) : m_fd(fd) {}
    ~FileSource() override { ::close(m_fd); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        for (;;) {
            const ssize_t r = ::pread(m_fd, buffer, length, off_t(offset));
            if (r >= 0 || errno != EINTR)
                return r;
        }
    }
    std::uint64_t size() override {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 && st.st_size > 0 ? std::uint64_t(st.st_size) : 0;
    }

private:
    int m_fd;
};

struct FlvStream {
    explicit FlvStream(int fd) : file(fd), reader(file) {}
    FileSource file;
    flv::RepairingReader reader;
    std::uint64_t position = 0;
};

// Regular files only: opening a pipe or a device to look at it could block or consume it.
int openRegularFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool startsWithFlvSignature(const std::string& path) {
    const int fd = openRegularFile(path.c_str());
    if (fd < 0)
        return false;
    std::uint8_t head[3];
    const bool flv = ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
                     flv::has_signature(head, sizeof head);
    ::close(fd);
    return flv;
}

// The engine's stream callbacks; they run on its demuxer thread and never call back into it.
int openFlvStream(void*, char* uri, mpv_stream_cb_info* info) {
    const std::string_view name(uri);
    if (!name.starts_with(kFlvPrefix))
        return MPV_ERROR_LOADING_FAILED;
    const int fd = openRegularFile(std::string(name.substr(sizeof kFlvPrefix - 1)).c_str());
    if (fd < 0)
        return MPV_ERROR_LOADING_FAILED;
    auto stream = std::make_unique<FlvStream>(fd);
    if (!stream->reader.valid())
        return MPV_ERROR_LOADING_FAILED;
    info->cookie = stream.release();
    info->read_fn = [](void* cookie, char* buffer, std::uint64_t length) -> std::int64_t {
        auto* s = static_cast<FlvStream*>(cookie);
        const std::size_t n = std::size_t(std::min<std::uint64_t>(length, 1u << 30));
        const std::int64_t r =
            s->reader.read(s->position, reinterpret_cast<std::uint8_t*>(buffer), n);
        if (r > 0)
            s->position += std::uint64_t(r);
        return r;
    };
    info->seek_fn = [](void* cookie, std::int64_t offset) -> std::int64_t {
        if (offset < 0)
            return MPV_ERROR_GENERIC;
        static_cast<FlvStream*>(cookie)->position = std::uint64_t(offset);
        return offset;
    };
    info->size_fn = [](void* cookie) -> std::int64_t {
        return std::int64_t(static_cast<FlvStream*>(cookie)->reader.size());
    };
    info->close_fn = [](void* cookie) { delete static_cast<FlvStream*>(cookie); };
    return 0;
}

// What the engine is asked to open for a path: FLV files through the repairing reader, anything
// else as it is.
// The file as the caller named it, byte for byte, however the engine reads it.
QString callerPath(std::string_view engineName) {
    if (engineName.starts_with(kFlvPrefix))
        engineName.remove_prefix(sizeof kFlvPrefix - 1);
    return from_path_bytes(engineName);
}

std::string engineAddress(const std::string& path) {
    return startsWithFlvSignature(path) ? kFlvPrefix + path : path;
}

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

    // Pictures are drawn on the GUI thread, into whatever memory the caller paints with; the
    // engine's threads only say that one is due. One notice at a time is on its way.
    std::atomic<bool> updatePosted{false};
    std::shared_ptr<FramePool> frames = std::make_shared<FramePool>();

    // Event-thread state.
    qint64 sentWidth = 0;
    qint64 sentHeight = 0;
    bool loaded = false;
    bool sentNoVideo = false;
    playback::EmptyLoopGuard emptyLoops;
    // Replies to the engine's own property observers, kept apart from the controls' ones.
    static constexpr std::uint64_t kOwnObserver = 0x6d6f7661;

    explicit Impl(MpvEngine* owner) : q(owner) {}

    template <typename F> void post(F&& f) {
        QMetaObject::invokeMethod(q, std::forward<F>(f), Qt::QueuedConnection);
    }

    static void onRenderUpdate(void* self) {
        // Called on mpv's threads, which must not be called back: hand over to the GUI thread.
        auto* impl = static_cast<Impl*>(self);
        if (!impl->updatePosted.exchange(true))
            impl->post([impl] { impl->takeUpdate(); });
    }

    void takeUpdate() {
        updatePosted = false;
        if (renderContext &&
            (mpv_render_context_update(renderContext.get()) & MPV_RENDER_UPDATE_FRAME))
            emit q->frameDue();
    }

    // Draws the current picture, or only takes it when bits is null. The engine hands a frame
    // over when it is due (no timing offset), so the call never waits for its display time.
    bool render(uchar* bits, QSize size, qsizetype stride,
                QImage::Format layout = QImage::Format_RGB32) {
        const char* pixelFormat = frameFormat(layout);
        if (!renderContext || !pixelFormat ||
            (bits && (size.isEmpty() || stride < qsizetype(size.width()) * 4)))
            return false;
        int skip = bits ? 0 : 1;
        int noBlock = 0;
        int sw[2] = {size.width(), size.height()};
        char format[8];
        std::strncpy(format, pixelFormat, sizeof format);
        std::size_t bytesPerLine = static_cast<std::size_t>(stride);
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
            {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &noBlock},
            {MPV_RENDER_PARAM_SW_SIZE, sw},
            {MPV_RENDER_PARAM_SW_FORMAT, format},
            {MPV_RENDER_PARAM_SW_STRIDE, &bytesPerLine},
            {MPV_RENDER_PARAM_SW_POINTER, bits},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        return mpv_render_context_render(renderContext.get(), params) >= 0;
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
            loaded = sentNoVideo = false;
            emptyLoops.reset();
            post([this] {
                q->setHasVideo(false);
                emit q->fileStarted();
            });
            break;
        case MPV_EVENT_FILE_LOADED: {
            loaded = true;
            // Read once the tracks are chosen: the selected video track's number, or false when
            // the file has none. Watching it instead could carry the last file's value over.
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
            break;
        }
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
            // Its tracks go with it; that is no news about the next file.
            loaded = false;
            const auto* end = static_cast<const mpv_event_end_file*>(event.data);
            if (end && end->reason == MPV_END_FILE_REASON_ERROR) {
                const QString reason = QString::fromUtf8(mpv_error_string(end->error));
                post([this, reason] { emit q->loadFailed(reason); });
            }
            break;
        }
        case MPV_EVENT_PLAYBACK_RESTART: {
            checkForEmptyLoop();
            double position = 0;
            if (mpv_get_property(core.get(), "time-pos", MPV_FORMAT_DOUBLE, &position) < 0 ||
                !std::isfinite(position))
                position = 0;
            post([this, position] { emit q->seeked(position); });
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* prop = static_cast<const mpv_event_property*>(event.data);
            if (event.reply_userdata == kOwnObserver) {
                checkForVideo();
                break;
            }
            if (!prop || event.reply_userdata >= std::size(kObserved))
                break;
            QVariant value;
            if (prop->format == MPV_FORMAT_NODE && prop->data) {
                const auto& node = *static_cast<const mpv_node*>(prop->data);
                value = std::string_view(prop->name) == "path" && node.format == MPV_FORMAT_STRING
                            ? QVariant(callerPath(node.u.string))
                            : toVariant(node);
            }
            const int which = int(event.reply_userdata);
            post([this, which, value] { q->onProperty(which, value); });
            break;
        }
        default:
            break;
        }
    }

    // A loaded file without a video track (or whose video could not be decoded) plays on
    // without a picture: say so once, so that the host can show it.
    void checkForVideo() {
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

    // A file emptied or cut short while it plays would be looped over in a tight loop, with
    // nothing to show; stop it and report it as unplayable instead.
    void checkForEmptyLoop() {
        double time = 0;
        const bool hasData =
            mpv_get_property(core.get(), "demuxer-cache-time", MPV_FORMAT_DOUBLE, &time) >= 0 ||
            mpv_get_property(core.get(), "audio-pts", MPV_FORMAT_DOUBLE, &time) >= 0;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        if (!emptyLoops.restarted(
                hasData, std::chrono::duration_cast<std::chrono::milliseconds>(now).count()))
            return;
        emptyLoops.reset();
        const char* stop[] = {"stop", nullptr};
        mpv_command_async(core.get(), 0, stop);
        const QString reason = QStringLiteral("the file no longer holds anything to play");
        post([this, reason] { emit q->loadFailed(reason); });
    }
};

MpvEngine::MpvEngine(const QStringList& extraOptions, QObject* parent)
    : VideoEngine(parent), d(std::make_unique<Impl>(this)) {
    d->core.reset(mpv_create());
    if (!d->core)
        throw std::runtime_error(
            "The playback engine could not be created (is LC_NUMERIC set to \"C\"?)");
    mpv_handle* h = d->core.get();

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
        {"audio-display", "no"},
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
    if (const int err = mpv_initialize(h); err < 0)
        fail("The playback engine could not start", err);
    if (const int err = mpv_stream_cb_add_ro(h, kFlvProtocol, nullptr, &openFlvStream); err < 0)
        fail("The FLV reader could not be registered", err);
    if (const int err = mpv_observe_property(h, Impl::kOwnObserver, "vid", MPV_FORMAT_NONE);
        err < 0)
        fail("Watching the video track failed", err);
    for (std::size_t i = 0; i < std::size(kObserved); ++i)
        if (const int err = mpv_observe_property(h, i, kObserved[i].name, MPV_FORMAT_NODE); err < 0)
            fail(std::string("Watching ") + kObserved[i].name + " failed", err);

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
}

MpvEngine::~MpvEngine() {
    d->renderContext.reset();
    d->events.join();
    d->core.reset();
}

void MpvEngine::load(const QString& path) {
    const std::string file = engineAddress(to_path_bytes(path));
    // The repairing reader only ever yields FLV, so the engine is told so instead of trying its
    // other readers and FFmpeg's probe first: about 8 ms before the first frame. These are the
    // engine's global settings, not the load's own: libmpv 0.35 leaks a load's own settings.
    const bool flv = file.starts_with(kFlvPrefix);
    mpv_set_property_string(d->core.get(), "demuxer", flv ? "lavf" : "");
    mpv_set_property_string(d->core.get(), "demuxer-lavf-format", flv ? "flv" : "");
    const char* args[] = {"loadfile", file.c_str(), "replace", nullptr};
    if (const int err = mpv_command(d->core.get(), args); err < 0)
        fail("The video could not be loaded", err);
}

bool MpvEngine::renderInto(uchar* bits, QSize size, qsizetype bytesPerLine, QImage::Format format) {
    return bits && d->render(bits, size, bytesPerLine, format);
}

QImage MpvEngine::renderImage(QSize size) {
    if (size.isEmpty())
        return {};
    QImage frame = d->frames->take(size);
    if (frame.isNull() || !d->render(frame.bits(), size, frame.bytesPerLine()))
        return {};
    return frame;
}

void MpvEngine::skipFrame() {
    d->render(nullptr, {}, 0);
}

MpvEngine::FrameDrops MpvEngine::frameDrops() const {
    FrameDrops drops;
    std::int64_t count = 0;
    if (mpv_get_property(d->core.get(), "frame-drop-count", MPV_FORMAT_INT64, &count) >= 0)
        drops.engine = count;
    if (mpv_get_property(d->core.get(), "decoder-frame-drop-count", MPV_FORMAT_INT64, &count) >= 0)
        drops.decoder = count;
    return drops;
}

void MpvEngine::onProperty(int which, const QVariant& value) {
    PlayerState next = state();
    kObserved[which].apply(next, value);
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
    NodeValue converted(value);
    mpv_set_property_async(d->core.get(), 0, name, MPV_FORMAT_NODE, &converted.node);
}

// Toggles and steps are done by the engine itself, so requests quicker than its reports still
// add up correctly.

void MpvEngine::play() {
    if (atEnd())
        seekTo(0); // stopped on the last picture: start again from the beginning
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

void MpvEngine::seekTo(double seconds) {
    command({QStringLiteral("seek"), QString::number(seconds), QStringLiteral("absolute")});
}

void MpvEngine::seekBy(double seconds) {
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
    setPropertyAsync("loop-file", looping ? QStringLiteral("inf") : QStringLiteral("no"));
}

QStringList noSoundOptions() {
    return {QStringLiteral("ao=null")};
}

QString noVideoOutputOption() {
    return QStringLiteral("vo=null");
}

bool loop_enabled(const std::string& text) {
    if (text == "inf" || text == "yes" || text == "force")
        return true;
    long long count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    return error == std::errc() && end == text.data() + text.size() && count > 0;
}

bool loop_enabled(std::int64_t count) {
    return count > 0;
}

std::unique_ptr<VideoEngine> make_video_engine(const QStringList& extraOptions) {
    return std::make_unique<MpvEngine>(extraOptions);
}

} // namespace movarin
