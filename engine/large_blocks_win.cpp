#include "engine/large_blocks.h"

namespace movarin::large_blocks {

// Windows' process heap keeps no arena per thread to limit, and has no transparent huge pages:
// large pages there need a privilege that a normal user lacks. Both stay the system's.
void keep_one_arena() {}

void use_huge_pages() {}

} // namespace movarin::large_blocks
