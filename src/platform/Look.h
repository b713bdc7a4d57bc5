// The look the ports draw with: colours and fonts of the about window, the
// skinned notice and the tray menu. Plain data; src/skin/ reads it from a
// skin file, the Win32 adapters paint with it.
#pragma once

#include <cstdint>
#include <string>

namespace umbrane {

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  bool operator==(const Rgb&) const = default;
};

struct FontSpec {
  std::string name;
  int points = 8;
  bool bold = false;
  bool operator==(const FontSpec&) const = default;
};

struct SkinLook {
  Rgb windowColor{0xF3, 0xF5, 0xF8};
  Rgb textColor{0x1F, 0x29, 0x37};
  FontSpec font{"Tahoma", 8, false};
  Rgb appNameColor{0x1D, 0x4E, 0x89};
  FontSpec appNameFont{"Tahoma", 18, false};
  Rgb linkColor{0x00, 0x5A, 0xC8};
  Rgb noticeColor{0xFF, 0xFB, 0xEB};
  Rgb noticeTextColor{0x1F, 0x29, 0x37};
  Rgb noticeTitleColor{0x1D, 0x4E, 0x89};
  Rgb noticeTitleTextColor{0xFF, 0xFF, 0xFF};
  FontSpec noticeFont{"Tahoma", 8, false};
  Rgb menuColor{0xFF, 0xFF, 0xFF};
  bool operator==(const SkinLook&) const = default;
};

}  // namespace umbrane
