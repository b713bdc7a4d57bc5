// The tray pictures, drawn in code so that their source is this file: the
// start icon, the seven frames of the busy animation (a ring of dots with a
// bright head running round), and the on and off pictures (the same badge in
// green and in red). The tray uses them at 16 x 16 pixels; the about window
// shows the badge larger. Pixels are 0xAARRGGBB, alpha not premultiplied,
// rows from the top.
#pragma once

#include <cstdint>
#include <vector>

namespace umbrane {

inline constexpr int kTrayImageSize = 16;
inline constexpr int kBusyFrames = 7;

// size x size pixels.
using TrayPixels = std::vector<std::uint32_t>;

TrayPixels DrawStartIcon();
TrayPixels DrawBusyFrame(int frame);
TrayPixels DrawStatusImage(bool on, int size = kTrayImageSize);

}  // namespace umbrane
