#include <gtest/gtest.h>

#include "base/LineList.h"

namespace umbrane {
namespace {

std::vector<std::string> Split(std::string_view text) {
  LineList list;
  list.SetText(text);
  return list.Lines();
}

TEST(LineList, SplitsAtEveryKindOfLineEnd) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(Split("a\r\n"), (V{"a"}));
  EXPECT_EQ(Split("\r\n\r\n"), (V{"", ""}));
  EXPECT_EQ(Split("a\n\rb"), (V{"a", "", "b"})) << "LF CR is two line ends";
  EXPECT_EQ(Split(""), V{});
  EXPECT_EQ(Split("tail"), (V{"tail"}));
}

TEST(LineList, TextEndsEveryEntryWithCrLf) {
  LineList list;
  EXPECT_EQ(list.Text(), "");
  list.Add("one");
  list.Add("");
  list.Add("three");
  EXPECT_EQ(list.Text(), "one\r\n\r\nthree\r\n");
  EXPECT_EQ(list.TextFrom(2), "three\r\n");
  EXPECT_EQ(list.TextFrom(3), "");
}

TEST(LineList, TextRoundTripsAndAppendingTextSplitsAgain) {
  LineList list;
  list.SetText("160036 prepare\r\n1601");
  list.SetText(list.Text() + "38 ready\r\n");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"160036 prepare", "1601", "38 ready"}));
}

}  // namespace
}  // namespace umbrane
