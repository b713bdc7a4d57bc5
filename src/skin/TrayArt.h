// The tray pictures, drawn in code so that their source is this file: the
// start icon, the seven frames of the busy animation (a ring of dots with a
// bright head running round), and the on and off pictures (the same badge in
// green and in red). Each is 16 x 16 pixels, 0xAARRGGBB, alpha not
// premultiplied, rows from the top.
#pragma once

#include <array>
#include <cstdint>

namespace umbrane {

inline constexpr int kTrayImageSize = 16;
inline constexpr int kBusyFrames = 7;

using TrayPixels = std::array<std::uint32_t, kTrayImageSize * kTrayImageSize>;

TrayPixels DrawStartIcon();
TrayPixels DrawBusyFrame(int frame);
TrayPixels DrawStatusImage(bool on);

}  // namespace umbrane
