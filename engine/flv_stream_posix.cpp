#include "engine/flv_stream_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace movarin::detail {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

class FileSource : public flv::ByteSource {
public:
    FileSource(int fd, const StopFlags& flags) : m_file(fd), m_flags(flags) {}

    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        for (;;) {
            const ssize_t r = ::pread(m_file.fd(), buffer, length, off_t(offset));
            if (r >= 0 || errno != EINTR)
                return r;
        }
    }
    std::uint64_t size() override {
        struct stat st {};
        return ::fstat(m_file.fd(), &st) == 0 && st.st_size > 0 ? std::uint64_t(st.st_size) : 0;
    }
    bool cancelled() override { return m_flags.stopped(); }

private:
    Descriptor m_file;
    const StopFlags& m_flags;
};

// Its writer may take its time, or never come: the wait is polled, so that a load that
// replaces it, or shutdown, ends it.
class PipeSource : public flv::StreamSource {
public:
    PipeSource(int fd, const StopFlags& flags) : m_pipe(fd), m_flags(flags) {}

    std::int64_t read(std::uint8_t* buffer, std::size_t length) override {
        for (;;) {
            if (m_flags.stopped())
                return -1;
            pollfd ready{m_pipe.fd(), POLLIN, 0};
            if (::poll(&ready, 1, 100) == 0)
                continue; // no data, and no writer yet or one that is still there
            const ssize_t r = ::read(m_pipe.fd(), buffer, length);
            if (r >= 0)
                return r; // 0 once the writer has gone
            if (errno != EAGAIN && errno != EINTR)
                return -1;
        }
    }

private:
    Descriptor m_pipe;
    const StopFlags& m_flags;
};

// Opened without waiting, then checked again on the descriptor: the name may have changed hands.
int openChecked(const std::string& path, bool (*kind)(mode_t)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !kind(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isRegular(mode_t mode) { return S_ISREG(mode); }
bool isFifo(mode_t mode) { return S_ISFIFO(mode); }

} // namespace

int openRegularFile(const char* path) {
    // Looked at before it is opened: opening a pipe, even without waiting, lets its writer go
    // on, and the writer dies once the look is over and the pipe closed.
    struct stat before {};
    if (::stat(path, &before) != 0 || !S_ISREG(before.st_mode))
        return -1;
    return openChecked(path, &isRegular);
}

std::unique_ptr<flv::ByteSource> openRegularFile(const std::string& path, const StopFlags& flags) {
    const int fd = openRegularFile(path.c_str());
    return fd < 0 ? nullptr : std::make_unique<FileSource>(fd, flags);
}

bool isNamedPipe(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

std::unique_ptr<flv::StreamSource> openNamedPipe(const std::string& path, const StopFlags& flags) {
    if (!isNamedPipe(path))
        return nullptr;
    const int fd = openChecked(path, &isFifo);
    return fd < 0 ? nullptr : std::make_unique<PipeSource>(fd, flags);
}

} // namespace movarin::detail
