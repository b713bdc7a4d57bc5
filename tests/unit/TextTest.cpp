#include <gtest/gtest.h>

#include "base/Text.h"

namespace umbrane {
namespace {

TEST(Text, AddTrailingBackslash) {
  EXPECT_EQ(AddTrailingBackslash("C:\\Data"), "C:\\Data\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\Data\\"), "C:\\Data\\");
  EXPECT_EQ(AddTrailingBackslash(""), "\\");
  EXPECT_EQ(AddTrailingBackslash("C:/x/"), "C:/x/\\") << "only a backslash counts";
}

TEST(Text, ExtractFilePathKeepsTheSeparator) {
  EXPECT_EQ(ExtractFilePath("C:\\Program Files\\Umbrane\\umbrane.exe"),
            "C:\\Program Files\\Umbrane\\");
  EXPECT_EQ(ExtractFilePath("C:umbrane.exe"), "C:");
  EXPECT_EQ(ExtractFilePath("umbrane.exe"), "");
}

TEST(Text, LeadingVersionNumber) {
  EXPECT_EQ(LeadingVersionNumber("4.01 Beta"), "4.01");
  EXPECT_EQ(LeadingVersionNumber("2.1.5 beta"), "2.1.5");
  EXPECT_EQ(LeadingVersionNumber("10.0.22631"), "10.0.22631");
  EXPECT_EQ(LeadingVersionNumber("v4.01"), "");
  EXPECT_EQ(LeadingVersionNumber(".5-rc1"), ".5");
  EXPECT_EQ(LeadingVersionNumber(""), "");
}

TEST(Text, LowerCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerCase("Mozilla FIREFOX 3.0"), "mozilla firefox 3.0");
  EXPECT_EQ(LowerCase("\xC4\xD6"), "\xC4\xD6");
}

TEST(Text, ZeroPad) {
  EXPECT_EQ(ZeroPad(7, 3), "007");
  EXPECT_EQ(ZeroPad(2008, 4), "2008");
  EXPECT_EQ(ZeroPad(12345, 4), "12345");
  EXPECT_EQ(ZeroPad(0, 2), "00");
}

}  // namespace
}  // namespace umbrane
