#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Shared by the fuzz targets: how one input is cut into arguments, and how a broken property
// stops the run so that libFuzzer (or the replay driver) keeps the input that broke it.
namespace movarin::fuzz {

// Arguments are separated by NUL bytes: no path, number text or command line a user can give
// holds one, so every other byte value stays available to the fuzzer.
inline std::vector<std::string_view> fields(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> result;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (;;) {
        const auto end = all.find('\0', start);
        if (end == std::string_view::npos) {
            result.push_back(all.substr(start));
            return result;
        }
        result.push_back(all.substr(start, end - start));
        start = end + 1;
    }
}

inline std::string_view field(const std::vector<std::string_view>& all, std::size_t index) {
    return index < all.size() ? all[index] : std::string_view();
}

inline std::string printable(std::string_view text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

[[noreturn]] inline void fail(const char* check, const char* file, int line,
                              std::string_view detail) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n  input: \"%s\"\n", file, line, check,
                 printable(detail).c_str());
    std::abort();
}

// Whether the sound and the picture tags of an FLV each keep their timestamps from going back:
// the readers hand such a file on unchanged, and carry one that goes back on forwards.
inline bool flv_timestamps_run_forward(const std::uint8_t* data, std::size_t size) {
    const auto be = [data](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | data[at + std::size_t(i)];
        return v;
    };
    if (size < 9)
        return true;
    std::int64_t last[2] = {-1, -1};
    for (std::size_t at = std::size_t(be(5, 4)) + 4; at + 11 <= size;
         at += 11 + std::size_t(be(at + 1, 3)) + 4) {
        if (data[at] != 8 && data[at] != 9)
            continue;
        const std::int64_t ts = std::int64_t(be(at + 4, 3) | (std::uint32_t(data[at + 7]) << 24));
        std::int64_t& before = last[data[at] == 9];
        if (ts < before)
            return false;
        before = ts;
    }
    return true;
}

} // namespace movarin::fuzz

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::movarin::fuzz::fail(#condition, __FILE__, __LINE__, (detail));                       \
    } while (false)
