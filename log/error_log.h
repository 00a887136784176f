#pragma once

#include <ctime>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace movarin::log {

// The procedures whose failures are logged; each has its own heading and trailer.
enum class Procedure {
    FormLoad,
    PlayFile,
    PlayerFSCommand,
    MnuOpenClick,
    FormOLEDragDrop,
    MnuUpdateClick,
    MnuWebsiteClick,
    MnuAboutClick,
};

struct RecordFrame {
    std::string_view heading;
    std::string_view trailer;
};

RecordFrame record_frame(Procedure procedure);

// "dd-mm-yy-hh-mm-ss", 24-hour clock, always 17 characters.
std::string time_stamp(const std::tm& when);

// Heading, time stamp, trailer, CR LF, description: the text handed to write_log.
std::string error_record(Procedure procedure, const std::tm& when, std::string_view description);

std::tm local_now();

// Appends text and CR LF to the file, opening and closing it on every call.
// Any failure drops the text: the log must never become a failure of its own.
void write_log(const std::filesystem::path& log_file, std::string_view text) noexcept;

std::filesystem::path log_file_in(const std::filesystem::path& app_dir);

// The log of a program whose own folder may not be written (installed, run by a normal user).
// Linux: $XDG_STATE_HOME/movarin/log.txt, or ~/.local/state/movarin/log.txt where that variable
// is unset or not an absolute path. Windows: %LOCALAPPDATA%\Movarin\log.txt. Empty when there is
// no such folder to put it in.
std::filesystem::path state_log_file();

// write_log into log.txt beside the executable; where that file or folder refuses to be written,
// into state_log_file() instead, its folders made for the user alone. Other failures (log.txt is
// a directory or a pipe, the disk is full) drop the record as write_log does.
void write_app_log(const std::filesystem::path& app_dir, std::string_view text) noexcept;

using LogWriter = std::function<void(std::string_view)>;

// Readable description of whatever was thrown; called only inside a catch block.
std::string describe_current_exception();

// Runs a handler's body; any failure becomes one record and the handler returns normally.
// Work done before the failure stays done.
template <typename Body>
void trap(Procedure procedure, const LogWriter& write, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        try {
            write(error_record(procedure, local_now(), describe_current_exception()));
        } catch (...) {
            // A record that cannot be built or written is dropped.
        }
    }
}

} // namespace movarin::log
