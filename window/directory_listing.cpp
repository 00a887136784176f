#include "window/directory_listing.h"

#include <algorithm>
#include <system_error>
#include <type_traits>

namespace movarin {

namespace fs = std::filesystem;
using Name = fs::path::string_type;

namespace {

unsigned unitAt(const Name& name, std::size_t at) {
    return static_cast<std::make_unsigned_t<Name::value_type>>(name[at]);
}

bool isDigit(unsigned unit) {
    return unit >= '0' && unit <= '9';
}

unsigned folded(unsigned unit) {
    return unit >= 'A' && unit <= 'Z' ? unit + ('a' - 'A') : unit;
}

bool hasExtension(const Name& name, std::string_view extension) {
    if (name.size() < extension.size())
        return false;
    const std::size_t from = name.size() - extension.size();
    for (std::size_t i = 0; i < extension.size(); ++i) {
        if (folded(unitAt(name, from + i)) != folded(static_cast<unsigned char>(extension[i])))
            return false;
    }
    return true;
}

// The digit run starting at `at`, leading zeros left out: [first, end).
std::pair<std::size_t, std::size_t> digitRun(const Name& name, std::size_t at) {
    std::size_t first = at;
    while (first < name.size() && unitAt(name, first) == '0')
        ++first;
    std::size_t end = first;
    while (end < name.size() && isDigit(unitAt(name, end)))
        ++end;
    return {first, end};
}

} // namespace

int compare_names(const Name& a, const Name& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const unsigned ua = unitAt(a, i);
        const unsigned ub = unitAt(b, j);
        if (isDigit(ua) && isDigit(ub)) {
            const auto [fa, ea] = digitRun(a, i);
            const auto [fb, eb] = digitRun(b, j);
            // The longer run without leading zeros is the larger number.
            if (ea - fa != eb - fb)
                return ea - fa < eb - fb ? -1 : 1;
            for (std::size_t k = 0; k < ea - fa; ++k) {
                if (a[fa + k] != b[fb + k])
                    return unitAt(a, fa + k) < unitAt(b, fb + k) ? -1 : 1;
            }
            i = ea;
            j = eb;
            continue;
        }
        if (folded(ua) != folded(ub))
            return folded(ua) < folded(ub) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // "Clip" and "clip", "a01" and "a1": still a fixed order.
    const int exact = a.compare(b);
    return exact < 0 ? -1 : exact > 0 ? 1 : 0;
}

DirectoryListing list_directory(const fs::path& folder, std::string_view extension) {
    DirectoryListing listing;
    std::error_code error;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    if (error)
        return listing;
    listing.readable = true;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        const Name name = it->path().filename().native();
        if (name.empty() || name.front() == '.')
            continue;
        std::error_code ignored;
        DirectoryEntry entry;
        entry.name = name;
        entry.directory = it->is_directory(ignored);
        if (!entry.directory && !hasExtension(name, extension))
            continue;
        if (!entry.directory) {
            ignored.clear();
            entry.size = it->file_size(ignored);
            if (ignored)
                entry.size = 0;
        }
        ignored.clear();
        entry.modified = it->last_write_time(ignored);
        if (ignored)
            entry.modified = {};
        listing.entries.push_back(std::move(entry));
    }
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) {
                  if (a.directory != b.directory)
                      return a.directory;
                  return compare_names(a.name, b.name) < 0;
              });
    return listing;
}

} // namespace movarin
