#include "repair/repair_files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace movarin::repair {

namespace {

constexpr std::size_t kReadBlock = 1u << 20;
constexpr std::size_t kWriteBlock = 1u << 20;
constexpr std::uint64_t kWriteBackStretch = 8u << 20;

// The temporary file a signal must remove: kept where a handler may read it.
char g_temporary[4096];
volatile std::sig_atomic_t g_haveTemporary = 0;
// Those that end the program, a crash's among them; only SIGKILL and a power cut cannot be met.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
                                  SIGSEGV, SIGBUS,  SIGFPE, SIGABRT, SIGILL};

extern "C" void removeTemporaryAndEnd(int signal) {
    if (g_haveTemporary)
        ::unlink(g_temporary);
    // SA_RESETHAND put the default back: the program ends as the signal says.
    ::raise(signal);
}

void handleEndingSignals() {
    struct sigaction action = {};
    action.sa_handler = removeTemporaryAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int s : kEndingSignals)
        ::sigaction(s, &action, nullptr);
}

// Runs `f` with the ending signals held back, so that the handler never sees half a name.
template <typename F> void withSignalsHeld(F f) {
    sigset_t held, before;
    sigemptyset(&held);
    for (const int s : kEndingSignals)
        sigaddset(&held, s);
    ::sigprocmask(SIG_BLOCK, &held, &before);
    f();
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
}

std::string systemError() {
    return std::strerror(errno);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// pread and write over interruptions and short counts.
std::int64_t readFully(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t r = ::pread(fd, buffer + done, length - done, off_t(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += std::size_t(r);
    }
    return std::int64_t(done);
}

bool writeFully(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t r = ::write(fd, data, length);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        data += r;
        length -= std::size_t(r);
    }
    return true;
}

} // namespace

InputFile::InputFile(const std::string& path) {
    // Not blocking: a named pipe given by mistake must not hang the open.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st = {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        m_problem = systemError();
    else if (S_ISDIR(st.st_mode))
        m_problem = "is a directory";
    else if (!S_ISREG(st.st_mode))
        m_problem = "is not a regular file";
    else if (st.st_size == 0)
        m_problem = "is empty";
    m_size = std::uint64_t(st.st_size);
    if (!m_problem.empty())
        return;
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Mapped, the page cache is read in place instead of copied out for each pass.
    void* map = ::mmap(nullptr, m_size, PROT_READ, MAP_SHARED, m_fd, 0);
    if (map != MAP_FAILED) {
        m_map = static_cast<const std::uint8_t*>(map);
        ::madvise(map, m_size, MADV_SEQUENTIAL);
    } else {
        m_block.resize(kReadBlock);
    }
}

InputFile::~InputFile() {
    if (m_map)
        ::munmap(const_cast<std::uint8_t*>(m_map), m_size);
    if (m_fd >= 0)
        ::close(m_fd);
}

std::int64_t InputFile::readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
    if (!m_problem.empty())
        return -1;
    if (offset >= m_size)
        return 0;
    length = std::size_t(std::min<std::uint64_t>(length, m_size - offset));
    if (m_map) {
        if (offset < m_released)
            m_released = offset & ~std::uint64_t(0xffff);
        std::memcpy(buffer, m_map + offset, length);
        release(offset);
        return std::int64_t(length);
    }
    if (length >= m_block.size())
        return readFully(m_fd, offset, buffer, length);
    if (offset < m_blockAt || offset + length > m_blockAt + m_blockLength) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(m_block.size(), m_size - offset));
        const std::int64_t r = readFully(m_fd, offset, m_block.data(), want);
        m_blockAt = offset;
        m_blockLength = r < 0 ? 0 : std::size_t(r);
        if (r < 0)
            return -1;
        length = std::min(length, m_blockLength);
    }
    std::memcpy(buffer, m_block.data() + (offset - m_blockAt), length);
    return std::int64_t(length);
}

// The pages well behind the read are let go from this process (they stay in the page cache), so
// that its resident memory stays small however long the file; a read back there maps them again.
void InputFile::release(std::uint64_t offset) {
    constexpr std::uint64_t kKeep = 4u << 20, kStretch = 16u << 20;
    if (offset < m_released + kKeep + kStretch)
        return;
    const std::uint64_t to = (offset - kKeep) & ~std::uint64_t(0xffff);
    ::madvise(const_cast<std::uint8_t*>(m_map) + m_released, to - m_released, MADV_DONTNEED);
    m_released = to;
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa = {}, sb = {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool exists(const std::string& path) {
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0;
}

OutputFile::OutputFile(const std::string& path, bool replace) : m_path(path), m_replace(replace) {
    m_temporary = folderOf(path) + "/." + nameOf(path) + ".repair-XXXXXX";
    if (m_temporary.size() >= sizeof g_temporary) {
        m_problem = "the name is too long";
        return;
    }
    handleEndingSignals();
    withSignalsHeld([&] {
        m_fd = ::mkstemp(m_temporary.data());
        if (m_fd < 0)
            return;
        std::memcpy(g_temporary, m_temporary.c_str(), m_temporary.size() + 1);
        g_haveTemporary = 1;
    });
    if (m_fd < 0) {
        m_problem = "cannot create a file in " + folderOf(path) + ": " + systemError();
        return;
    }
    // The copy gets the permissions a new file gets, not mkstemp's owner-only ones.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_fd, 0666 & ~mask);
    m_buffer.reserve(kWriteBlock);
}

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    withSignalsHeld([&] {
        if (g_haveTemporary)
            ::unlink(m_temporary.c_str());
        g_haveTemporary = 0;
    });
}

bool OutputFile::flushBuffer(std::string& error) {
    if (!writeFully(m_fd, m_buffer.data(), m_buffer.size())) {
        error = "cannot write " + m_temporary + ": " + systemError();
        return false;
    }
    m_written += m_buffer.size();
    m_buffer.clear();
    startWriteBack();
    return true;
}

// The disk starts on each written stretch at once, so that the flush before the rename waits
// for the last stretch only, not for the whole copy.
void OutputFile::startWriteBack() {
    if (m_written - m_writeBackFrom < kWriteBackStretch)
        return;
    ::sync_file_range(m_fd, off_t(m_writeBackFrom), off_t(m_written - m_writeBackFrom),
                      SYNC_FILE_RANGE_WRITE);
    m_writeBackFrom = m_written;
}

bool OutputFile::write(const std::uint8_t* data, std::size_t length, std::string& error) {
    if (m_fd < 0) {
        error = m_problem;
        return false;
    }
    if (m_buffer.size() + length > kWriteBlock && !flushBuffer(error))
        return false;
    if (length >= kWriteBlock) {
        if (writeFully(m_fd, data, length)) {
            m_written += length;
            startWriteBack();
            return true;
        }
        error = "cannot write " + m_temporary + ": " + systemError();
        return false;
    }
    m_buffer.insert(m_buffer.end(), data, data + length);
    return true;
}

bool OutputFile::commit(std::string& error) {
    if (m_fd < 0 || !flushBuffer(error))
        return false;
    const int fd = m_fd;
    m_fd = -1;
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = "cannot write " + m_temporary + ": " + systemError();
        return false;
    }
    // Without --force the name is taken only if it is still free: link fails on a file that
    // appeared meanwhile, where rename would replace it.
    bool linked = false, renamed = false;
    if (!m_replace)
        linked = ::link(m_temporary.c_str(), m_path.c_str()) == 0;
    // A file system without hard links gets the rename, if the name is still free.
    if (!linked && (m_replace || (errno != EEXIST && !exists(m_path))))
        renamed = ::rename(m_temporary.c_str(), m_path.c_str()) == 0;
    if (!linked && !renamed) {
        error = errno == EEXIST ? "already exists (--force replaces it)" : systemError();
        return false;
    }
    if (renamed)
        g_haveTemporary = 0; // the name is the copy's now
    discard();
    const int folder = ::open(folderOf(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace movarin::repair
