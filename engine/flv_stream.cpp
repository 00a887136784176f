#include "engine/flv_stream.h"

#include "engine/flv_stream_io.h"
#include "engine/path_bytes.h"
#include "flv/flv_forward.h"
#include "flv/flv_repair.h"
#include "flv/flv_seekable.h"

#include <mpv/client.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>

namespace movarin::detail {

namespace {

// Read through the seekable stream: the repaired file with the true length and a keyframe
// index. The engine holds it by a shared pointer, so that the timeline can be asked about it
// from other threads while it lives.
struct FlvStream {
    FlvStream(std::unique_ptr<StopFlags> stopFlags, std::unique_ptr<flv::ByteSource> source)
        : flags(std::move(stopFlags)), file(std::move(source)), reader(*file) {}
    std::unique_ptr<StopFlags> flags;
    std::unique_ptr<flv::ByteSource> file;
    flv::SeekableStream reader;
    std::uint64_t position = 0;
};
using Cookie = std::shared_ptr<FlvStream>;

FlvStream& streamOf(void* cookie) {
    return **static_cast<Cookie*>(cookie);
}

bool startsWithFlvSignature(const std::string& path) {
    const StopFlags never(nullptr);
    const auto file = openRegularFile(path, never);
    std::uint8_t head[3];
    return file && file->readAt(0, head, sizeof head) == std::int64_t(sizeof head) &&
           flv::has_signature(head, sizeof head);
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
    streamOf(cookie).flags->stop = true;
}

void closeStream(void* cookie) {
    delete static_cast<Cookie*>(cookie);
}

// A named pipe, read once as it comes.
struct PipeStream {
    PipeStream(std::unique_ptr<StopFlags> stopFlags, std::unique_ptr<flv::StreamSource> source)
        : flags(std::move(stopFlags)), pipe(std::move(source)), reader(*pipe) {}
    std::unique_ptr<StopFlags> flags;
    std::unique_ptr<flv::StreamSource> pipe;
    flv::ForwardReader reader;
};

PipeStream& pipeOf(void* cookie) {
    return *static_cast<PipeStream*>(cookie);
}

std::int64_t readPipe(void* cookie, char* buffer, std::uint64_t length) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(length, 1u << 30));
    return pipeOf(cookie).reader.read(reinterpret_cast<std::uint8_t*>(buffer), n);
}

void cancelPipe(void* cookie) {
    pipeOf(cookie).flags->stop = true;
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
    auto flags = std::make_unique<StopFlags>(given ? given->closing : nullptr);
    auto file = openRegularFile(std::string(name.substr(sizeof kFlvPrefix - 1)), *flags);
    if (!file)
        return MPV_ERROR_LOADING_FAILED;
    auto stream = std::make_shared<FlvStream>(std::move(flags), std::move(file));
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
    auto flags = std::make_unique<StopFlags>(given ? given->closing : nullptr);
    auto pipe = openNamedPipe(std::string(name.substr(sizeof kPipePrefix - 1)), *flags);
    if (!pipe)
        return MPV_ERROR_LOADING_FAILED;
    info->cookie = new PipeStream(std::move(flags), std::move(pipe));
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

std::string engineAddress(const std::string& path) {
    if (isNamedPipe(path))
        return kPipePrefix + path;
    return startsWithFlvSignature(path) ? kFlvPrefix + path : path;
}

} // namespace movarin::detail
