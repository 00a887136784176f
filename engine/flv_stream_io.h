#pragma once

#include "flv/flv_forward.h"
#include "flv/flv_repair.h"

#include <atomic>
#include <memory>
#include <string>

// The system's own files and pipes under the FLV bridge: one implementation per platform
// (flv_stream_posix.cpp, flv_stream_win.cpp), chosen by the build. Internal to the engine.
namespace movarin::detail {

// What a wait gives up on: the engine's cancel of this one stream, or shutdown.
struct StopFlags {
    explicit StopFlags(const std::atomic<bool>* closing) : closing(closing) {}
    bool stopped() const { return stop || (closing && *closing); }
    // Set by the engine from another thread when it stops waiting for this stream.
    std::atomic<bool> stop{false};
    const std::atomic<bool>* closing;
};

// `path` is in path bytes (engine/path_bytes.h). Regular files only: opening a pipe or a device
// to look at it could block or consume it. Null when it is not one or cannot be opened.
std::unique_ptr<flv::ByteSource> openRegularFile(const std::string& path, const StopFlags& flags);

// The same as a POSIX descriptor (the cover readers use it), or -1.
int openRegularFile(const char* path);

bool isNamedPipe(const std::string& path);
// Does not wait for the pipe's writer, and releases one that waits; reads poll `flags`. Null
// when `path` is not a named pipe or cannot be opened.
std::unique_ptr<flv::StreamSource> openNamedPipe(const std::string& path, const StopFlags& flags);

} // namespace movarin::detail
