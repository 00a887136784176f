#include "engine/large_blocks.h"
#include "engine/large_blocks_hint.h"

#include <limits>

namespace movarin::large_blocks {

Span whole_pages(std::uintptr_t begin, std::size_t size, std::size_t page) {
    constexpr std::uintptr_t top = std::numeric_limits<std::uintptr_t>::max();
    if (page == 0 || (page & (page - 1)) != 0 || size > top - begin || begin > top - (page - 1))
        return {};
    const std::uintptr_t mask = ~(std::uintptr_t{page} - 1);
    const Span span{(begin + page - 1) & mask, (begin + size) & mask};
    return span.empty() ? Span{} : span;
}

std::atomic<bool> g_hint{false};

bool hinting() {
    return g_hint.load(std::memory_order_relaxed);
}

} // namespace movarin::large_blocks
