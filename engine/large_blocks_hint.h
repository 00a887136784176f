#pragma once

#include <atomic>

namespace movarin::large_blocks {

// Set once by use_huge_pages(), read by the allocation hook; internal to the engine.
extern std::atomic<bool> g_hint;

} // namespace movarin::large_blocks
