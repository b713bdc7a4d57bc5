// The least of a skin: the colours and fonts of the about window, the skinned
// notice and the tray menu, read from an INI file (see res/default.skn for
// the format). A value that is missing or malformed keeps the default look,
// so a damaged skin never stops the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Profile.h"

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

// "#RRGGBB" (hex digits in either case); nothing for any other text.
std::optional<Rgb> ParseColor(std::string_view text);

// The look of `skinFile`, each value falling back to the default on its own.
SkinLook ReadSkin(IProfile& profile, const std::string& skinFile);

}  // namespace umbrane
