// Path cleaning and movie-address building against plain character-by-character references.

#include "fuzz/fuzz_input.h"
#include "window/movie_address.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace movarin;

std::string referenceTrim(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] == ' ')
        ++first;
    while (last > first && text[last - 1] == ' ')
        --last;
    return std::string(text.substr(first, last - first));
}

// Left to right, matches never overlap, and text put in is never searched again.
std::string referenceReplace(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty())
        return std::string(text);
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.substr(i, from.size()) == from) {
            out += to;
            i += from.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string mapped(std::string_view text, bool dropQuotes) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += '/';
        else if (!(dropQuotes && c == '"'))
            out += c;
    }
    return out;
}

bool has(std::string_view text, char c) {
    return text.find(c) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto args = fuzz::fields(data, size);
    const std::string_view path = fuzz::field(args, 0);
    const std::string_view appDir = fuzz::field(args, 1);
    const std::string_view from = fuzz::field(args, 2);
    const std::string_view to = fuzz::field(args, 3);
    const char separator = fuzz::field(args, 4).empty() ? '/' : fuzz::field(args, 4).front();

    FUZZ_CHECK(trim_blanks(path) == referenceTrim(path), path);
    FUZZ_CHECK(replace_all(path, from, to) == referenceReplace(path, from, to), path);

    const std::string command = clean_command_path(path);
    FUZZ_CHECK(!has(command, '"') && !has(command, '\\'), path);
    FUZZ_CHECK(command == mapped(referenceTrim(path), true), path);

    const std::string chosen = clean_chosen_path(path);
    FUZZ_CHECK(!has(chosen, '\\'), path);
    FUZZ_CHECK(chosen == mapped(referenceTrim(path), false), path);
    FUZZ_CHECK(clean_chosen_path(chosen) == chosen, path);

    // Every field after the first stands for one more dropped file.
    std::vector<std::string> dropped;
    std::string joined;
    for (std::size_t i = 0; i < args.size(); ++i) {
        dropped.emplace_back(args[i]);
        joined += args[i];
        joined += "\r\n";
    }
    const std::string drop = clean_dropped_paths(dropped);
    FUZZ_CHECK(!has(drop, '"') && !has(drop, '\\'), path);
    FUZZ_CHECK(drop == mapped(referenceReplace(referenceTrim(joined), "\r\n", ""), true), path);

    const std::string address = movie_address(appDir, separator, command);
    const std::string prefix = std::string(appDir) + separator + "movarin.swf?filename=";
    FUZZ_CHECK(address == prefix + command, path);
    // The host reads the path back from the address; that must give exactly what went in,
    // whatever the path holds ("?filename=" included), as long as the directory does not.
    if ((std::string(appDir) + separator).find("?filename=") == std::string::npos)
        FUZZ_CHECK(video_path_of(address) == command, path);
    FUZZ_CHECK(video_path_of(path).size() <= path.size(), path);
    return 0;
}
