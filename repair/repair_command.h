#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The movarin-repair command: `movarin-repair [--force] IN.flv OUT.flv`. Writes a repaired copy
// of IN to OUT, a one-line summary to standard output, and returns 0 once the copy is in place;
// otherwise a message on standard error and a non-zero status, and no OUT. Plain C++.
namespace movarin::repair {

inline constexpr int kExitWritten = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int repair_command(const std::vector<std::string>& args);

// The summary line for a copy: tags kept, bytes dropped, places resynchronised, and the length
// beside the one the file claimed (`claimed` 0 when it claimed none).
std::string summary_line(const std::string& out, std::uint64_t tags, std::uint64_t dropped,
                         std::uint64_t resyncs, double seconds, double claimed);

} // namespace movarin::repair
