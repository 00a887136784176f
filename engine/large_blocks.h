#pragma once

#include <cstddef>
#include <cstdint>

namespace movarin::large_blocks {

// The decoder library zeroes a 10 MiB probe buffer each time a file is opened. In 4 KiB pages
// that is 2,560 page faults, 25-35 ms on a virtual machine before the first picture; in 2 MiB
// pages it is five. Blocks from this size up are given their own mapping by the allocator and
// are asked to be backed by huge pages; smaller ones are left as they are.
inline constexpr std::size_t kHintFrom = std::size_t{4} << 20;
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct Span {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    bool empty() const { return end <= begin; }
};

// The whole pages of `page` bytes that lie inside [begin, begin + size); empty if none does, or
// if the block would run past the end of the address space.
Span whole_pages(std::uintptr_t begin, std::size_t size, std::size_t page = kHugePage);

// One heap arena for all threads (glibc); Windows' heap has none to limit. Before threads start.
void keep_one_arena();
// Turns the hint on for the rest of the process (Linux; on Windows, and under the sanitizers,
// which bring their own allocator, it does nothing). Call first thing in main, before threads.
void use_huge_pages();
// Whether the hint is in effect: built in, and turned on.
bool hinting();

} // namespace movarin::large_blocks
