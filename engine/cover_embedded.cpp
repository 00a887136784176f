// The picture a sound file carries for its cover, taken from the file's headers as FFmpeg's
// readers find it (ID3 tags, FLAC and Ogg picture blocks, MP4 cover atoms, ...), without
// decoding anything.
#include "engine/cover_art.h"

#include "engine/flv_stream_io.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace movarin {

namespace {

// What reading a file's headers may take, a cover of the largest size included; the rest of a
// larger header is not read.
constexpr std::int64_t kMaxHeaderBytes = 2 * kCoverMaxBytes;
constexpr int kBlock = 32 * 1024;

struct HeaderSource {
    int fd = -1;
    std::int64_t position = 0;
    std::int64_t read = 0;
    const std::atomic<bool>* cancel = nullptr;
};

int readHeaders(void* opaque, std::uint8_t* buffer, int size) {
    auto& source = *static_cast<HeaderSource*>(opaque);
    if (*source.cancel)
        return AVERROR_EXIT;
    if (source.read >= kMaxHeaderBytes)
        return AVERROR_EOF;
    ssize_t r = 0;
    do
        r = ::pread(source.fd, buffer, std::size_t(size), off_t(source.position));
    while (r < 0 && errno == EINTR);
    if (r < 0)
        return AVERROR(errno);
    if (r == 0)
        return AVERROR_EOF;
    source.position += r;
    source.read += r;
    return int(r);
}

std::int64_t seekHeaders(void* opaque, std::int64_t offset, int whence) {
    auto& source = *static_cast<HeaderSource*>(opaque);
    struct stat st {};
    const std::int64_t size = ::fstat(source.fd, &st) == 0 ? std::int64_t(st.st_size) : -1;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += source.position;
        break;
    case SEEK_END:
        if (size < 0)
            return AVERROR(EINVAL);
        offset += size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    source.position = offset;
    return offset;
}

int interrupted(void* cancel) {
    return *static_cast<const std::atomic<bool>*>(cancel) ? 1 : 0;
}

// A sound file names no other file worth opening (a playlist would name many).
int refuseOtherFiles(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

QByteArray attachedPicture(const AVFormatContext& format) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream& stream = *format.streams[i];
        const AVPacket& picture = stream.attached_pic;
        if ((stream.disposition & AV_DISPOSITION_ATTACHED_PIC) && picture.data &&
            picture.size > 0 && picture.size <= kCoverMaxBytes)
            return QByteArray(reinterpret_cast<const char*>(picture.data), picture.size);
    }
    return {};
}

QByteArray readAttachedPicture(AVIOContext* io, const std::atomic<bool>& cancel) {
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return {};
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->interrupt_callback.callback = interrupted;
    format->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(&cancel);
    format->io_open = refuseOtherFiles;
    // Frees the context when it fails.
    if (avformat_open_input(&format, nullptr, nullptr, nullptr) < 0)
        return {};
    QByteArray picture = cancel ? QByteArray() : attachedPicture(*format);
    avformat_close_input(&format);
    return picture;
}

} // namespace

QByteArray embedded_cover(const std::string& path, const std::atomic<bool>& cancel) {
    const int fd = detail::openRegularFile(path.c_str());
    if (fd < 0)
        return {};
    HeaderSource source{fd, 0, 0, &cancel};
    QByteArray picture;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBlock));
    if (AVIOContext* io = buffer ? avio_alloc_context(buffer, kBlock, 0, &source, readHeaders,
                                                      nullptr, seekHeaders)
                                 : nullptr) {
        picture = readAttachedPicture(io, cancel);
        av_freep(&io->buffer); // the context may have replaced the buffer it was given
        avio_context_free(&io);
    } else {
        av_free(buffer);
    }
    ::close(fd);
    return picture;
}

} // namespace movarin
