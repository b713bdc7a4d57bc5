#include "skin/Skin.h"

#include <charconv>

namespace umbrane {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

class SkinReader {
 public:
  SkinReader(IProfile& profile, const std::string& file) : profile_(profile), file_(file) {}

  void Color(const char* section, const char* key, Rgb& value) {
    if (auto parsed = ParseColor(Read(section, key))) {
      value = *parsed;
    }
  }

  void Font(const char* section, FontSpec& font) {
    const std::string name = Read(section, "FontName");
    // A face name has at most 31 characters on Windows.
    if (!name.empty() && name.size() <= 31) {
      font.name = name;
    }
    const std::string size = Read(section, "FontSize");
    int points = 0;
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), points);
    if (error == std::errc() && end == size.data() + size.size() && points >= 6 && points <= 72) {
      font.points = points;
    }
    const std::string bold = Read(section, "FontBold");
    if (bold == "0" || bold == "1") {
      font.bold = bold == "1";
    }
  }

 private:
  std::string Read(const char* section, const char* key) {
    return profile_.ReadString(file_, section, key, "");
  }

  IProfile& profile_;
  const std::string& file_;
};

}  // namespace

std::optional<Rgb> ParseColor(std::string_view text) {
  if (text.size() != 7 || text[0] != '#') {
    return std::nullopt;
  }
  int digits[6];
  for (int i = 0; i < 6; ++i) {
    digits[i] = HexDigit(text[static_cast<std::size_t>(i) + 1]);
    if (digits[i] < 0) {
      return std::nullopt;
    }
  }
  return Rgb{static_cast<std::uint8_t>(digits[0] * 16 + digits[1]),
             static_cast<std::uint8_t>(digits[2] * 16 + digits[3]),
             static_cast<std::uint8_t>(digits[4] * 16 + digits[5])};
}

SkinLook ReadSkin(IProfile& profile, const std::string& skinFile) {
  SkinLook look;
  SkinReader read(profile, skinFile);
  read.Color("Window", "Color", look.windowColor);
  read.Color("Window", "TextColor", look.textColor);
  read.Font("Window", look.font);
  read.Color("AppName", "TextColor", look.appNameColor);
  read.Font("AppName", look.appNameFont);
  read.Color("Link", "TextColor", look.linkColor);
  read.Color("Notice", "Color", look.noticeColor);
  read.Color("Notice", "TextColor", look.noticeTextColor);
  read.Color("Notice", "TitleColor", look.noticeTitleColor);
  read.Color("Notice", "TitleTextColor", look.noticeTitleTextColor);
  read.Font("Notice", look.noticeFont);
  read.Color("Menu", "Color", look.menuColor);
  return look;
}

}  // namespace umbrane
