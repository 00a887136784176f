#include "window/movie_address.h"

namespace movarin {

std::string trim_blanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty())
        return std::string(text);
    std::string result;
    result.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const auto hit = text.find(from, pos);
        if (hit == std::string_view::npos)
            break;
        result.append(text.substr(pos, hit - pos));
        result.append(to);
        pos = hit + from.size();
    }
    result.append(text.substr(pos));
    return result;
}

std::string clean_command_path(std::string_view path) {
    return replace_all(clean_chosen_path(path), "\"", "");
}

std::string clean_chosen_path(std::string_view path) {
    return replace_all(trim_blanks(path), "\\", "/");
}

std::string clean_dropped_paths(const std::vector<std::string>& paths) {
    std::string joined;
    for (const auto& path : paths) {
        joined += path;
        joined += "\r\n";
    }
    std::string text = replace_all(trim_blanks(joined), "\r\n", "");
    text = replace_all(text, "\\", "/");
    return replace_all(text, "\"", "");
}

std::string movie_address(std::string_view app_dir, char separator, std::string_view video_path) {
    std::string address(app_dir);
    address += separator;
    address += "movarin.swf?filename=";
    address += video_path;
    return address;
}

std::string video_path_of(std::string_view address) {
    constexpr std::string_view key = "?filename=";
    const auto hit = address.find(key);
    if (hit == std::string_view::npos)
        return {};
    return std::string(address.substr(hit + key.size()));
}

} // namespace movarin
