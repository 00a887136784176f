#pragma once

#include <sys/resource.h>
#include <time.h>

#include <cstdint>

// The clock that the runner and the programs it starts share: CLOCK_MONOTONIC is the same for
// every process on the machine, so a time printed by a child compares with the runner's.
namespace movarin::bench {

inline std::int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// User plus system seconds of this process, all threads included.
inline double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace movarin::bench
