#include "engine/flv_stream_io.h"

#include "engine/path_bytes.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace movarin::detail {

namespace {

std::wstring widePath(const std::string& path) {
    return from_path_bytes(path).toStdWString();
}

class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { CloseHandle(m_handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Others may go on writing, renaming or deleting it while it plays, as on Linux.
HANDLE openShared(const std::string& path, DWORD share) {
    return CreateFileW(widePath(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

class FileSource : public flv::ByteSource {
public:
    FileSource(HANDLE handle, const StopFlags& flags) : m_file(handle), m_flags(flags) {}

    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        OVERLAPPED at{};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD got = 0;
        const DWORD wanted = DWORD(std::min<std::size_t>(length, 1u << 30));
        if (ReadFile(m_file.get(), buffer, wanted, &got, &at))
            return got;
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    std::uint64_t size() override {
        LARGE_INTEGER size{};
        return GetFileSizeEx(m_file.get(), &size) && size.QuadPart > 0 ? std::uint64_t(size.QuadPart)
                                                                        : 0;
    }
    bool cancelled() override { return m_flags.stopped(); }

private:
    Handle m_file;
    const StopFlags& m_flags;
};

// A pipe's server may take its time to write, or never do: the wait looks every few
// milliseconds, so that a load that replaces it, or shutdown, ends it.
class PipeSource : public flv::StreamSource {
public:
    PipeSource(HANDLE handle, const StopFlags& flags) : m_pipe(handle), m_flags(flags) {}

    std::int64_t read(std::uint8_t* buffer, std::size_t length) override {
        for (;;) {
            if (m_flags.stopped())
                return -1;
            DWORD ready = 0;
            if (!PeekNamedPipe(m_pipe.get(), nullptr, 0, nullptr, &ready, nullptr))
                return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1; // 0 once the writer has gone
            if (ready == 0) {
                Sleep(10);
                continue;
            }
            DWORD got = 0;
            const DWORD wanted = DWORD(std::min<std::size_t>({length, ready, 1u << 30}));
            if (!ReadFile(m_pipe.get(), buffer, wanted, &got, nullptr))
                return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
            return got;
        }
    }

private:
    Handle m_pipe;
    const StopFlags& m_flags;
};

// Opened, then checked on the handle: a name may lead elsewhere than it looks.
HANDLE openChecked(const std::string& path, DWORD share, DWORD type) {
    const HANDLE handle = openShared(path, share);
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != type) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

} // namespace

bool isNamedPipe(const std::string& path) {
    constexpr std::string_view prefixes[] = {"\\\\.\\pipe\\", "\\\\?\\pipe\\"};
    return std::any_of(std::begin(prefixes), std::end(prefixes), [&](std::string_view prefix) {
        return path.size() > prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), path.begin(),
                          [](char a, char b) { return a == std::tolower(b); });
    });
}

std::unique_ptr<flv::ByteSource> openRegularFile(const std::string& path, const StopFlags& flags) {
    // Opening a pipe to look at it would take its one connection, and devices may block.
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    if (isNamedPipe(path) || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return nullptr;
    const HANDLE handle =
        openChecked(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_TYPE_DISK);
    return handle == INVALID_HANDLE_VALUE ? nullptr : std::make_unique<FileSource>(handle, flags);
}

// Connects to a server that is there now; there is nothing to wait for when there is none.
std::unique_ptr<flv::StreamSource> openNamedPipe(const std::string& path, const StopFlags& flags) {
    if (!isNamedPipe(path))
        return nullptr;
    const HANDLE handle = openChecked(path, 0, FILE_TYPE_PIPE);
    return handle == INVALID_HANDLE_VALUE ? nullptr : std::make_unique<PipeSource>(handle, flags);
}

} // namespace movarin::detail
