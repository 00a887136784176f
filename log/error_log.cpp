#include "log/error_log.h"

#include "log/log_file.h"

#include <array>
#include <cstdio>

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

void write_log(const std::filesystem::path& log_file, std::string_view text) noexcept {
    append_line(log_file, text);
}

void write_app_log(const std::filesystem::path& app_dir, std::string_view text) noexcept {
    try {
        // Only a refusal to write moves the record; anything else would be lost there too.
        if (append_line(log_file_in(app_dir), text) != Appended::Refused)
            return;
        const std::filesystem::path file = state_log_file();
        if (file.empty() || !make_private_dirs(file.parent_path()))
            return;
        append_line(file, text);
    } catch (...) {
        // Dropped on purpose, as in write_log.
    }
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
