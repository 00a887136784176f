#include "engine/large_blocks.h"

#include <atomic>
#include <limits>

// The sanitizers bring their own allocator, and other systems their own rules.
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define MOVARIN_BLOCK_HINT 1
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#undef MOVARIN_BLOCK_HINT
#endif
#endif
#endif

#ifdef MOVARIN_BLOCK_HINT
#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace movarin::large_blocks {

Span whole_pages(std::uintptr_t begin, std::size_t size, std::size_t page) {
    constexpr std::uintptr_t top = std::numeric_limits<std::uintptr_t>::max();
    if (page == 0 || (page & (page - 1)) != 0 || size > top - begin || begin > top - (page - 1))
        return {};
    const std::uintptr_t mask = ~(std::uintptr_t{page} - 1);
    const Span span{(begin + page - 1) & mask, (begin + size) & mask};
    return span.empty() ? Span{} : span;
}

namespace {
std::atomic<bool> g_hint{false};
} // namespace

void use_huge_pages() {
#ifdef MOVARIN_BLOCK_HINT
    // A fixed threshold, so every block of the hinted size is a fresh mapping of its own, never
    // a stretch of the heap that small blocks take over once it is freed.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHintFrom));
    g_hint.store(true, std::memory_order_relaxed);
#endif
}

bool hinting() {
    return g_hint.load(std::memory_order_relaxed);
}

} // namespace movarin::large_blocks

#ifdef MOVARIN_BLOCK_HINT
// The decoder library allocates through posix_memalign. The program's own definition comes first
// in symbol lookup: it leaves the allocation to the next one (the C library's) and adds the hint.
extern "C" int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    using Allocate = int (*)(void**, std::size_t, std::size_t);
    static const auto next = reinterpret_cast<Allocate>(dlsym(RTLD_NEXT, "posix_memalign"));
    const int result = next(out, alignment, size);
    using namespace movarin::large_blocks;
    if (result == 0 && size >= kHintFrom && g_hint.load(std::memory_order_relaxed)) {
        const Span span = whole_pages(reinterpret_cast<std::uintptr_t>(*out), size);
        if (!span.empty()) // only a hint: a kernel without huge pages refuses it, and that is fine
            madvise(reinterpret_cast<void*>(span.begin), span.end - span.begin, MADV_HUGEPAGE);
    }
    return result;
}
#endif
