#include <gtest/gtest.h>

#include <random>

#include "base/IniValues.h"
#include "tunnel/Cipher.h"

namespace umbrane {
namespace {

unsigned char ClassOf(unsigned char c) {
  return c >= 0x80 ? 3 : c >= 0x40 ? 2 : c >= 0x20 ? 1 : 0;
}

TEST(Cipher, KeepsEveryByteInItsClassAndIsItsOwnInverse) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(1, 64);
  for (int round = 0; round < 2000; ++round) {
    std::string text(static_cast<std::size_t>(length(random)), '\0');
    std::string key(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : text) {
      c = static_cast<char>(byte(random));
    }
    for (char& c : key) {
      c = static_cast<char>(byte(random));
    }
    const std::string once = Cipher(text, key);
    ASSERT_EQ(once.size(), text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      ASSERT_EQ(ClassOf(static_cast<unsigned char>(once[i])),
                ClassOf(static_cast<unsigned char>(text[i])));
    }
    ASSERT_EQ(Cipher(once, key), text) << "round " << round;
  }
}

TEST(Cipher, KnownValuesAndTheRulesOfTheKey) {
  // 'a' (0x61) with 't' (0x74 & 0x3F = 0x34) gives 0x55 'U'; '1' (0x31) with
  // 'a' (0x61 & 0x1F = 0x01) gives '0'; 0xE9 with 'v' (0x76) gives 0x9F.
  EXPECT_EQ(Cipher("a1\xE9", "tav"), std::string("U0\x9F"));
  EXPECT_EQ(Cipher("abc", "\xF4"), Cipher("abc", "\x74")) << "bit 7 of the key never counts";
  EXPECT_EQ(Cipher("abc", ""), "");
  EXPECT_EQ(Cipher("", kTokenKey), "");
  const std::string controls("\x00\r\n\x1F", 4);
  EXPECT_EQ(Cipher(controls, kTokenKey), controls);
  const std::string withNul("a\0b", 3);
  const std::string out = Cipher(withNul, "xyz");
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1], '\0');
  EXPECT_NE(out[2], 'b') << "bytes after a NUL are still processed";
  EXPECT_EQ(Cipher("ab", "keylonger"), Cipher("ab", "ke"));
  EXPECT_NE(Cipher(Cipher("secret", "tavrek"), "tavrej"), "secret");
}

TEST(Cipher, OnlyOneWordTokensAreSafe) {
  EXPECT_TRUE(IsSafeToken("Abc-123_x.y"));
  for (const char* bad : {"", "two words", "quote\"d", "tab\there", "cr\r", "del\x7F"}) {
    EXPECT_FALSE(IsSafeToken(bad)) << bad;
  }
}

TEST(IniValues, IntegersAsTheProgramReadsThem) {
  EXPECT_EQ(ParseIniInteger("1"), 1);
  EXPECT_EQ(ParseIniInteger("-42"), -42);
  EXPECT_EQ(ParseIniInteger("+7"), 7);
  EXPECT_EQ(ParseIniInteger("0x1F"), 31);
  EXPECT_EQ(ParseIniInteger("0XfF"), 255);
  EXPECT_EQ(ParseIniInteger("$10"), 16);
  EXPECT_EQ(ParseIniInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseIniInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseIniInteger("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "yes", "1 2", "12a", "0x", "$", "-", "2147483648", "0x1FFFFFFFF"}) {
    EXPECT_FALSE(ParseIniInteger(bad)) << bad;
  }
}

}  // namespace
}  // namespace umbrane
