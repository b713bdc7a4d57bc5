// The tray pictures, drawn in code so that their source is this file: the
// start icon, the seven frames of the busy animation (a ring of dots with a
// bright head running round), and the on and off pictures (the same badge in
// green and in red). They are designed on a 16 x 16 grid and drawn at any
// size: the tray asks for the system's small-icon size at the current DPI,
// the about window shows the badge larger. Pixels are 0xAARRGGBB, alpha not premultiplied,
// rows from the top.
#pragma once

#include <cstdint>
#include <vector>

namespace umbrane {

inline constexpr int kTrayImageSize = 16;
inline constexpr int kBusyFrames = 7;

// size x size pixels.
using TrayPixels = std::vector<std::uint32_t>;

TrayPixels DrawStartIcon(int size = kTrayImageSize);
TrayPixels DrawBusyFrame(int frame, int size = kTrayImageSize);
TrayPixels DrawStatusImage(bool on, int size = kTrayImageSize);

}  // namespace umbrane
