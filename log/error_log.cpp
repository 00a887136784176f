#include "log/error_log.h"

#include <array>
#include <cstdio>
#include <fstream>

#include <cerrno>
#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace movarin::log {

namespace {

struct FrameEntry {
    Procedure procedure;
    RecordFrame frame;
};

// Headings and trailers are part of the log's format: readers of old logs rely on them.
constexpr std::array<FrameEntry, 8> kFrames{{
    {Procedure::FormLoad,
     {"-----------------------------------Error while loading form : ",
      "-------------------------------"}},
    {Procedure::PlayFile,
     {"----------------------------Error while playing the movie : ",
      "---------------------------"}},
    {Procedure::PlayerFSCommand,
     {"----------------------------Error while taking the actual width and height of the movie: ",
      " ---------------------------"}},
    {Procedure::MnuOpenClick,
     {"-----------------------------------Error while clicking Open menu : ",
      "-------------------------------"}},
    {Procedure::FormOLEDragDrop,
     {"----------------------------Error while dragging the file into the player: ",
      " ---------------------------"}},
    {Procedure::MnuUpdateClick,
     {"----------------------------Error while clicking the update menu : ",
      "--------------------------"}},
    {Procedure::MnuWebsiteClick,
     {"----------------------------Error while clicking the Website menu : ",
      " ---------------------------"}},
    {Procedure::MnuAboutClick,
     {"-----------------------------------Error while clicking about menu : ",
      "-------------------------------"}},
}};

} // namespace

RecordFrame record_frame(Procedure procedure) {
    for (const auto& entry : kFrames) {
        if (entry.procedure == procedure)
            return entry.frame;
    }
    return {};
}

std::string time_stamp(const std::tm& when) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d-%02d-%02d-%02d-%02d-%02d", when.tm_mday,
                  when.tm_mon + 1, (when.tm_year + 1900) % 100, when.tm_hour, when.tm_min,
                  when.tm_sec);
    return buffer;
}

std::string error_record(Procedure procedure, const std::tm& when, std::string_view description) {
    const RecordFrame frame = record_frame(procedure);
    std::string record;
    record.reserve(frame.heading.size() + frame.trailer.size() + description.size() + 19);
    record += frame.heading;
    record += time_stamp(when);
    record += frame.trailer;
    record += "\r\n";
    record += description;
    return record;
}

std::tm local_now() {
    const std::time_t now = std::time(nullptr);
    std::tm result{};
#ifdef _WIN32
    localtime_s(&result, &now);
#else
    localtime_r(&now, &result);
#endif
    return result;
}

namespace {

// Appends text and CR LF; the errno of a failed open, 0 once the file was opened (a failed
// write after that is not retried elsewhere: part of the record may be in the file).
int append_line(const std::filesystem::path& log_file, std::string_view text) noexcept {
    try {
#ifdef _WIN32
        std::ofstream out(log_file, std::ios::out | std::ios::app | std::ios::binary);
        if (!out)
            return EIO;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.write("\r\n", 2);
#else
        // Non-blocking open: a log.txt that is a named pipe nobody reads must drop the record,
        // not freeze the window that is writing it.
        const int fd =
            ::open(log_file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0)
            return errno;
        std::string line;
        line.reserve(text.size() + 2);
        line.append(text);
        line.append("\r\n");
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
#endif
        return 0;
    } catch (...) {
        return EIO;
    }
}

#ifndef _WIN32
// mkdir -p, each new folder readable by the user alone. False when the folder is not there after.
bool make_private_dirs(const std::filesystem::path& dir) {
    std::filesystem::path so_far;
    for (const auto& part : dir) {
        so_far /= part;
        if (::mkdir(so_far.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
#endif

} // namespace

void write_log(const std::filesystem::path& log_file, std::string_view text) noexcept {
    append_line(log_file, text);
}

void write_app_log(const std::filesystem::path& app_dir, std::string_view text) noexcept {
    try {
        const int refused = append_line(log_file_in(app_dir), text);
#ifndef _WIN32
        // Only a refusal to write moves the record; anything else would be lost there too.
        if (refused != EACCES && refused != EPERM && refused != EROFS)
            return;
        const std::filesystem::path file = state_log_file();
        if (file.empty() || !make_private_dirs(file.parent_path()))
            return;
        append_line(file, text);
#else
        (void)refused;
#endif
    } catch (...) {
        // Dropped on purpose, as in write_log.
    }
}

std::filesystem::path state_log_file() {
#ifdef _WIN32
    return {};
#else
    std::filesystem::path base;
    // The base-directory rules: a relative value is to be ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* user = ::getpwuid(::geteuid());
            home = user ? user->pw_dir : nullptr;
        }
        if (!home || home[0] != '/')
            return {};
        base = std::filesystem::path(home) / ".local" / "state";
    }
    return base / "movarin" / "log.txt";
#endif
}

std::filesystem::path log_file_in(const std::filesystem::path& app_dir) {
    return app_dir / "log.txt";
}

std::string describe_current_exception() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

} // namespace movarin::log
