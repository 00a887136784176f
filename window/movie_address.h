#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text rules that turn a user's path into the movie address the playback host loads.
// All strings are UTF-8; every rule is an exact, case-sensitive character match.
namespace movarin {

// Removes the space character (only U+0020; tabs stay) from both ends.
std::string trim_blanks(std::string_view text);

std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

// Command-line path: trim, "\" to "/", remove every double quote (trim runs first, so blanks
// inside quotes survive).
std::string clean_command_path(std::string_view path);

// Path chosen in the Open dialog: trim, "\" to "/"; double quotes stay.
std::string clean_chosen_path(std::string_view path);

// Dropped paths: each followed by CR LF, trimmed as a whole, CR LF removed, "\" to "/",
// double quotes removed.
std::string clean_dropped_paths(const std::vector<std::string>& paths);

// application directory + separator + "movarin.swf?filename=" + video path; nothing escaped.
std::string movie_address(std::string_view app_dir, char separator, std::string_view video_path);

// The video path of a movie address: everything after the first "?filename=", verbatim.
// Empty when the key is missing.
std::string video_path_of(std::string_view address);

} // namespace movarin
