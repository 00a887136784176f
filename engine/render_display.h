#pragma once

#include <mpv/render_gl.h>

#include <vector>

namespace movarin::detail {

// The display connection that hardware decoding shares with GL, as a render parameter: X11's when
// the program runs on X11 (render_display_x11.cpp); Windows has none to give (render_display_win.cpp).
void add_display_param(std::vector<mpv_render_param>& params);

} // namespace movarin::detail
