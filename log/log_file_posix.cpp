#include "log/error_log.h"
#include "log/log_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace movarin::log {

std::tm local_now() {
    const std::time_t now = std::time(nullptr);
    std::tm result{};
    localtime_r(&now, &result);
    return result;
}

Appended append_line(const std::filesystem::path& log_file, std::string_view text) noexcept {
    try {
        // Non-blocking open: a log.txt that is a named pipe nobody reads must drop the record,
        // not freeze the window that is writing it.
        const int fd =
            ::open(log_file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0)
            return errno == EACCES || errno == EPERM || errno == EROFS ? Appended::Refused
                                                                       : Appended::Failed;
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
        return Appended::Done;
    } catch (...) {
        return Appended::Failed;
    }
}

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

std::filesystem::path state_log_file() {
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
}

} // namespace movarin::log
