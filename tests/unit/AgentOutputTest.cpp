#include <gtest/gtest.h>

#include "tunnel/AgentCommand.h"
#include "tunnel/AgentOutput.h"

namespace umbrane {
namespace {

using Lines = std::vector<std::string>;

Lines FeedAll(const std::vector<std::string>& reads, bool flush = false) {
  AgentOutput output;
  LineList lines;
  for (const auto& r : reads) {
    output.Feed(r, lines);
  }
  if (flush) {
    output.Flush(lines);
  }
  return lines.Lines();
}

TEST(AgentOutput, LinesSplitAcrossReadsStayWhole) {
  EXPECT_EQ(FeedAll({"160036 prepare\r\n"}), (Lines{"160036 prepare"}));
  EXPECT_EQ(FeedAll({"1600", "36 prepare\r\n"}), (Lines{"160036 prepare"}));
  EXPECT_EQ(FeedAll({"160036\r", "\n160138\r\n"}), (Lines{"160036", "160138"}))
      << "CR and LF in two reads are one line end";
  EXPECT_EQ(FeedAll({"a\rb\nc\r\n\r\n"}), (Lines{"a", "b", "c", ""}));
  EXPECT_EQ(FeedAll({"160138"}), Lines{}) << "no line end yet";
  EXPECT_EQ(FeedAll({"160138"}, true), (Lines{"160138"})) << "the ended agent's last line";
  EXPECT_EQ(FeedAll({"a\r\n"}, true), (Lines{"a"})) << "nothing more to flush";
}

TEST(AgentOutput, NulCostsNoLineAndNothingAfterIt) {
  EXPECT_EQ(FeedAll({std::string("160036 a\r\n16\0"
                                 "0138\r\n",
                                 19),
                     std::string(2, '\0') + "160032\r" + std::string(1, '\0') + "\n"}),
            (Lines{"160036 a", "160138", "160032"}));
}

TEST(AgentCommand, PiecesInTheirOrder) {
  EXPECT_EQ(BuildAgentCommand("tok3n", "198.51.100.7"),
            "warden -name publicuser -key tok3n -do -H 7070 -umbrane -port 80 -say 198.51.100.7");
}

}  // namespace
}  // namespace umbrane
