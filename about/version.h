#pragma once

// What the program calls itself; the About picture and the Windows version resource say the same.
namespace movarin::about {

inline constexpr char kProductName[] = "Movarin";
inline constexpr char kVersionText[] = "1.00";

} // namespace movarin::about
