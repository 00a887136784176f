#include "engine/large_blocks.h"
#include "engine/large_blocks_hint.h"

#include <atomic>

// The sanitizers bring their own allocator.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define MOVARIN_BLOCK_HINT 1
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#undef MOVARIN_BLOCK_HINT
#endif
#endif
#endif

#include <malloc.h>

#ifdef MOVARIN_BLOCK_HINT
#include <dlfcn.h>
#include <sys/mman.h>
#endif

namespace movarin::large_blocks {

void keep_one_arena() {
    mallopt(M_ARENA_MAX, 1);
}

void use_huge_pages() {
#ifdef MOVARIN_BLOCK_HINT
    // A fixed threshold, so every block of the hinted size is a fresh mapping of its own, never
    // a stretch of the heap that small blocks take over once it is freed.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHintFrom));
    g_hint.store(true, std::memory_order_relaxed);
#endif
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
