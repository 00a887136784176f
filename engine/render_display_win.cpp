#include "engine/render_display.h"

namespace movarin::detail {

// The GL context itself is all that hardware decoding on Windows needs.
void add_display_param(std::vector<mpv_render_param>&) {}

} // namespace movarin::detail
