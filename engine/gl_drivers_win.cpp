#include "engine/gl_drivers.h"

namespace movarin {

// Windows' GL drivers are the system's own, unloaded with the process.
void keep_gl_drivers_loaded() {}

} // namespace movarin
