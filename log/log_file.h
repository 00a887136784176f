#pragma once

#include <filesystem>
#include <string_view>

// The log's file on each system (log_file_posix.cpp, log_file_win.cpp), chosen by the build.
namespace movarin::log {

enum class Appended {
    Done,    // opened; a write that failed after that is not retried elsewhere
    Refused, // no permission, or a read-only medium: the record may go elsewhere
    Failed,  // anything else (a folder or a pipe by that name, no such folder)
};

// Appends text and CR LF, opening and closing the file; never blocks on a pipe.
Appended append_line(const std::filesystem::path& log_file, std::string_view text) noexcept;

// mkdir -p, each new folder readable by the user alone. False when the folder is not there after.
bool make_private_dirs(const std::filesystem::path& dir);

} // namespace movarin::log
