#include <gtest/gtest.h>

#include "app/ErrorText.h"

namespace umbrane {
namespace {

TEST(TopLevelError, FullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(TopLevelErrorText("Error to start Umbrane Warden!"), "Error to start Umbrane Warden!");
  EXPECT_EQ(TopLevelErrorText("Disk full."), "Disk full.");
  EXPECT_EQ(TopLevelErrorText("Disk full"), "Disk full.");
  EXPECT_EQ(TopLevelErrorText("code 5"), "code 5.");
  EXPECT_EQ(TopLevelErrorText("what?"), "what?.") << "'?' sorts after '.'";
  EXPECT_EQ(TopLevelErrorText("a-"), "a-") << "'-' sorts before '.'";
  EXPECT_EQ(TopLevelErrorText("caf\xE9"), "caf\xE9.") << "bytes above 127 sort after '.'";
  EXPECT_EQ(TopLevelErrorText(""), "");
}

}  // namespace
}  // namespace umbrane
