#include "engine/flv_stream.h"

#include "engine/path_bytes.h"
#include "flv/flv_forward.h"
#include "flv/flv_repair.h"
#include "flv/flv_seekable.h"

#include <mpv/client.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>

namespace movarin::detail {

namespace {

// An open descriptor that the engine may give up on from another thread, or shutdown ends.
class Descriptor {
public:
    Descriptor(int fd, const std::atomic<bool>* closing) : m_fd(fd), m_closing(closing) {}
    ~Descriptor() { ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int fd() const { return m_fd; }
    bool stopped() const { return stop || (m_closing && *m_closing); }

    // Set by the engine from another thread when it stops waiting for this stream.
    std::atomic<bool> stop{false};

private:
    int m_fd;
    const std::atomic<bool>* m_closing;
};

class FileSource : public flv::ByteSource {
public:
    FileSource(int fd, const std::atomic<bool>* closing) : descriptor(fd, closing) {}

    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        for (;;) {
            const ssize_t r = ::pread(descriptor.fd(), buffer, length, off_t(offset));
            if (r >= 0 || errno != EINTR)
                return r;
        }
    }
    std::uint64_t size() override {
        struct stat st {};
        return ::fstat(descriptor.fd(), &st) == 0 && st.st_size > 0 ? std::uint64_t(st.st_size) : 0;
    }
    bool cancelled() override { return descriptor.stopped(); }

    Descriptor descriptor;
};

// Read through the seekable stream: the repaired file with the true length and a keyframe
// index. The engine holds it by a shared pointer, so that the timeline can be asked about it
// from other threads while it lives.
struct FlvStream {
    FlvStream(int fd, const std::atomic<bool>* closing) : file(fd, closing), reader(file) {}
    FileSource file;
    flv::SeekableStream reader;
    std::uint64_t position = 0;
};
using Cookie = std::shared_ptr<FlvStream>;

FlvStream& streamOf(void* cookie) {
    return **static_cast<Cookie*>(cookie);
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

std::int64_t readStream(void* cookie, char* buffer, std::uint64_t length) {
    FlvStream& s = streamOf(cookie);
    const std::size_t n = std::size_t(std::min<std::uint64_t>(length, 1u << 30));
    const std::int64_t r = s.reader.read(s.position, reinterpret_cast<std::uint8_t*>(buffer), n);
    if (r > 0)
        s.position += std::uint64_t(r);
    return r;
}

std::int64_t seekStream(void* cookie, std::int64_t offset) {
    if (offset < 0)
        return MPV_ERROR_GENERIC;
    streamOf(cookie).position = std::uint64_t(offset);
    return offset;
}

std::int64_t streamSize(void* cookie) {
    return std::int64_t(streamOf(cookie).reader.size());
}

void cancelStream(void* cookie) {
    streamOf(cookie).file.descriptor.stop = true;
}

void closeStream(void* cookie) {
    delete static_cast<Cookie*>(cookie);
}

// A named pipe, read as it comes. Its writer may take its time, or never come: the wait is
// polled, so that a load that replaces it, or shutdown, ends it.
class PipeSource : public flv::StreamSource {
public:
    PipeSource(int fd, const std::atomic<bool>* closing) : descriptor(fd, closing) {}

    std::int64_t read(std::uint8_t* buffer, std::size_t length) override {
        for (;;) {
            if (descriptor.stopped())
                return -1;
            pollfd ready{descriptor.fd(), POLLIN, 0};
            if (::poll(&ready, 1, 100) == 0)
                continue; // no data, and no writer yet or one that is still there
            const ssize_t r = ::read(descriptor.fd(), buffer, length);
            if (r >= 0)
                return r; // 0 once the writer has gone
            if (errno != EAGAIN && errno != EINTR)
                return -1;
        }
    }

    Descriptor descriptor;
};

struct PipeStream {
    PipeStream(int fd, const std::atomic<bool>* closing) : pipe(fd, closing), reader(pipe) {}
    PipeSource pipe;
    flv::ForwardReader reader;
};

PipeStream& pipeOf(void* cookie) {
    return *static_cast<PipeStream*>(cookie);
}

bool isPipe(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode);
}

// Opening a pipe to read it does not wait for its writer, and releases one that waits.
int openPipe(const char* path) {
    if (!isPipe(path))
        return -1;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::int64_t readPipe(void* cookie, char* buffer, std::uint64_t length) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(length, 1u << 30));
    return pipeOf(cookie).reader.read(reinterpret_cast<std::uint8_t*>(buffer), n);
}

void cancelPipe(void* cookie) {
    pipeOf(cookie).pipe.descriptor.stop = true;
}

void closePipe(void* cookie) {
    delete static_cast<PipeStream*>(cookie);
}

} // namespace

double FlvTimeline::duration() const {
    const auto stream = current();
    return stream ? stream->duration() : 0;
}

double FlvTimeline::lastFrame() const {
    const auto stream = current();
    return stream ? stream->lastFrame() : 0;
}

void FlvTimeline::setCurrent(std::weak_ptr<const flv::SeekableStream> stream) {
    std::lock_guard lock(m_mutex);
    m_current = std::move(stream);
}

std::shared_ptr<const flv::SeekableStream> FlvTimeline::current() const {
    std::lock_guard lock(m_mutex);
    return m_current.lock();
}

int openFlvStream(void* opening, char* uri, mpv_stream_cb_info* info) {
    const auto* given = static_cast<const FlvOpening*>(opening);
    const std::string_view name(uri);
    if (!name.starts_with(kFlvPrefix))
        return MPV_ERROR_LOADING_FAILED;
    const int fd = openRegularFile(std::string(name.substr(sizeof kFlvPrefix - 1)).c_str());
    if (fd < 0)
        return MPV_ERROR_LOADING_FAILED;
    auto stream = std::make_shared<FlvStream>(fd, given ? given->closing : nullptr);
    if (!stream->reader.valid())
        return MPV_ERROR_LOADING_FAILED;
    if (given && given->timeline)
        given->timeline->setCurrent(
            std::shared_ptr<const flv::SeekableStream>(stream, &stream->reader));
    info->cookie = new Cookie(std::move(stream));
    info->read_fn = &readStream;
    info->seek_fn = &seekStream;
    info->size_fn = &streamSize;
    info->close_fn = &closeStream;
    info->cancel_fn = &cancelStream;
    return 0;
}

// Read once, in order: no seeks, so the engine knows not to loop it or jump in it.
int openPipeStream(void* opening, char* uri, mpv_stream_cb_info* info) {
    const auto* given = static_cast<const FlvOpening*>(opening);
    const std::string_view name(uri);
    if (!name.starts_with(kPipePrefix))
        return MPV_ERROR_LOADING_FAILED;
    const int fd = openPipe(std::string(name.substr(sizeof kPipePrefix - 1)).c_str());
    if (fd < 0)
        return MPV_ERROR_LOADING_FAILED;
    info->cookie = new PipeStream(fd, given ? given->closing : nullptr);
    info->read_fn = &readPipe;
    info->close_fn = &closePipe;
    info->cancel_fn = &cancelPipe;
    return 0;
}

QString callerPath(std::string_view engineName) {
    for (const std::string_view prefix : {kFlvPrefix, kPipePrefix})
        if (engineName.starts_with(prefix)) {
            engineName.remove_prefix(prefix.size());
            break;
        }
    return from_path_bytes(engineName);
}

int openRegularFile(const char* path) {
    // Looked at before it is opened: opening a pipe, even without waiting, lets its writer go
    // on, and the writer dies once the look is over and the pipe closed.
    struct stat before {};
    if (::stat(path, &before) != 0 || !S_ISREG(before.st_mode))
        return -1;
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

std::string engineAddress(const std::string& path) {
    if (isPipe(path.c_str()))
        return kPipePrefix + path;
    return startsWithFlvSignature(path) ? kFlvPrefix + path : path;
}

} // namespace movarin::detail
