#pragma once

namespace movarin {

// Keeps the GL drivers loaded so far mapped until the process ends. Unloaded as the display
// closes at exit, the blocks their globals still point to would read as leaks to the sanitizer
// build's leak check, which fails the run; kept mapped, they stay reachable, as while playing.
// Nothing is lost in any build: the process is ending. Call before the application goes.
void keep_gl_drivers_loaded();

} // namespace movarin
