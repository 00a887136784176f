#pragma once

#include "window/twips.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace movarin {

using XWindowId = std::uint32_t;

// The window a window's _NET_SUPPORTING_WM_CHECK property names; nothing when the window has no
// such property or no longer exists.
using SupportingWmCheck = std::function<std::optional<XWindowId>(XWindowId window)>;

// A window manager runs on the screen of `root` when the root names a check window that still
// exists and names itself: one that has gone away leaves the root's property behind, naming a
// window that went with it or, reused, one that names nothing.
bool window_manager_running(XWindowId root, const SupportingWmCheck& read);

// The window's frame stands `slip` pixels from where it was asked to, the inner area having been
// asked for at that place plus the frame's top-left edges `asked` (x left, y top) less `shift`;
// the edges are `now`. A slip no larger than the frame's edges is the window manager's doing (it
// placed the window before framing it, changed the frame, or read the place as the frame's and
// not the inner area's); a user's move goes further, and stands: nothing then. Otherwise the
// shift to ask with from now on: `now` for a manager that reads the place as the frame's.
std::optional<twips::PixelPoint> placement_shift(twips::PixelPoint slip, twips::PixelPoint asked,
                                                 twips::PixelPoint now, twips::PixelPoint shift);

// Asks the X server this program is connected to about the screen of `window` (its native id,
// or 0 for the first screen). False where the program does not speak to an X server.
bool x_window_manager_running(unsigned long long window);

} // namespace movarin
