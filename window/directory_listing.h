#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

// What the Open dialog shows of one folder. Names stay in the platform's own form (bytes on
// Linux), so a name that is not valid text is still listed and still names its file.
namespace movarin {

struct DirectoryEntry {
    std::filesystem::path::string_type name;
    bool directory = false;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified{};
};

struct DirectoryListing {
    // False when the folder could not be read at all; the entries are then empty.
    bool readable = false;
    std::vector<DirectoryEntry> entries;
};

// The folders and the files whose name ends in `extension` (ASCII letters matched without
// regard to case, as Windows matches "*.flv"), leaving out hidden names (a leading dot).
// Folders first; within each, names in the order a person expects: letters without regard to
// case, runs of digits by their value; names that still tie by their exact code units.
// Links count as what they point at; a dangling link counts as a file.
DirectoryListing list_directory(const std::filesystem::path& folder, std::string_view extension);

// The order list_directory sorts names in: negative, zero or positive.
int compare_names(const std::filesystem::path::string_type& a,
                  const std::filesystem::path::string_type& b);

} // namespace movarin
