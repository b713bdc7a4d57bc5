#include "skin/TrayArt.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace umbrane {

namespace {

constexpr double kCentre = 7.5;

struct Color {
  double r, g, b;
};

// Paints `color` over the pixel with `coverage` (0..1), straight alpha.
void Blend(std::uint32_t& pixel, Color color, double coverage) {
  coverage = std::clamp(coverage, 0.0, 1.0);
  if (coverage <= 0.0) {
    return;
  }
  const double a0 = static_cast<double>(pixel >> 24) / 255.0;
  const double r0 = static_cast<double>((pixel >> 16) & 0xFF);
  const double g0 = static_cast<double>((pixel >> 8) & 0xFF);
  const double b0 = static_cast<double>(pixel & 0xFF);
  const double a = coverage + a0 * (1.0 - coverage);
  auto mix = [&](double top, double bottom) {
    return (top * coverage + bottom * a0 * (1.0 - coverage)) / a;
  };
  auto byte = [](double v) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 255.0)));
  };
  pixel = byte(a * 255.0) << 24 | byte(mix(color.r, r0)) << 16 | byte(mix(color.g, g0)) << 8 |
          byte(mix(color.b, b0));
}

// The pictures are designed on a 16 x 16 grid; a larger image samples the
// same shapes at its own pixel centres, with one of its pixels of
// anti-aliasing. `shade` gets the grid position and the size of a pixel in
// grid units.
template <typename Shade>
TrayPixels Render(int size, Shade shade) {
  TrayPixels pixels(static_cast<std::size_t>(size) * static_cast<std::size_t>(size), 0);
  const double unit = static_cast<double>(kTrayImageSize) / size;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      shade(pixels[static_cast<std::size_t>(y * size + x)], (x + 0.5) * unit - 0.5,
            (y + 0.5) * unit - 0.5, unit);
    }
  }
  return pixels;
}

// Coverage of a pixel at distance `d` from the edge of a shape of radius
// `r`, both in grid units, for a pixel `unit` grid units wide.
double Coverage(double d, double r, double unit = 1.0) {
  return (r + 0.5 * unit - d) / unit;
}

// A ring of seven dots; `head` (or -1) is the bright one, the dots behind it
// fade out.
TrayPixels DrawRing(int head, int size) {
  const Color bright{0x2E, 0x7D, 0xF6};
  const Color dim{0x8A, 0x9B, 0xB4};
  return Render(size, [&](std::uint32_t& p, double x, double y, double unit) {
    for (int i = 0; i < kBusyFrames; ++i) {
      const double angle = -std::numbers::pi / 2 + 2 * std::numbers::pi * i / kBusyFrames;
      const double dx = kCentre + 5.4 * std::cos(angle);
      const double dy = kCentre + 5.4 * std::sin(angle);
      const int behind = head < 0 ? kBusyFrames : (head - i + kBusyFrames) % kBusyFrames;
      const Color color = behind == 0 ? bright : dim;
      const double alpha = behind == 0 ? 1.0 : std::max(0.35, 0.85 - 0.1 * behind);
      const double radius = behind == 0 ? 1.9 : 1.5;
      // The dot's own coverage first, then its fade: a fading dot stays
      // see-through at its centre at every size.
      const double covered =
          std::clamp(Coverage(std::hypot(x - dx, y - dy), radius, unit), 0.0, 1.0);
      Blend(p, color, alpha * covered);
    }
  });
}

// Distance from a point to the letter "U" drawn as a stroke path.
double DistanceToU(double x, double y) {
  const double left = kCentre - 2.6;
  const double right = kCentre + 2.6;
  const double top = 4.0;
  const double bend = kCentre + 0.6;
  if (y <= bend) {
    const double dy = std::max(top - y, 0.0);
    return std::min(std::hypot(x - left, dy), std::hypot(x - right, dy));
  }
  return std::abs(std::hypot(x - kCentre, y - bend) - 2.6);
}

}  // namespace

TrayPixels DrawStartIcon(int size) {
  return DrawRing(-1, size);
}

TrayPixels DrawBusyFrame(int frame, int size) {
  return DrawRing(((frame % kBusyFrames) + kBusyFrames) % kBusyFrames, size);
}

TrayPixels DrawStatusImage(bool on, int size) {
  const Color rim = on ? Color{0x1A, 0x7F, 0x37} : Color{0x9B, 0x23, 0x23};
  const Color fill = on ? Color{0x2E, 0xA0, 0x43} : Color{0xCF, 0x3B, 0x3B};
  const Color mark{0xFF, 0xFF, 0xFF};
  return Render(size, [&](std::uint32_t& p, double x, double y, double unit) {
    const double d = std::hypot(x - kCentre, y - kCentre);
    Blend(p, rim, Coverage(d, 7.3, unit));
    Blend(p, fill, Coverage(d, 6.2, unit));
    Blend(p, mark, Coverage(DistanceToU(x, y), 0.75, unit));
  });
}

}  // namespace umbrane
