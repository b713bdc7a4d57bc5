#include <gtest/gtest.h>

#include "FakeFileSystem.h"
#include "app/ActivityLog.h"

namespace umbrane {
namespace {

using fakes::FakeFileSystem;

TEST(LogEntry, FormatsStampWithRegionalSeparators) {
  const LocalTime t{2008, 3, 10, 9, 5, 3, 42};
  EXPECT_EQ(FormatLogEntry(FormatLogStamp(t, ':', '/'), "SilentUpdate"),
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate");
  EXPECT_EQ(FormatLogStamp(t, ':', '.'), "09:05:03:042 2008.03.10");
  EXPECT_EQ(FormatLogStamp(t, '.', '-'), "09.05.03.042 2008-03-10");
}

TEST(LogEntry, MidnightAndLastMillisecondOfTheDay) {
  EXPECT_EQ(FormatLogStamp({2009, 1, 1, 0, 0, 0, 0}, ':', '/'), "00:00:00:000 2009/01/01");
  EXPECT_EQ(FormatLogStamp({2008, 12, 31, 23, 59, 59, 999}, ':', '/'), "23:59:59:999 2008/12/31");
}

TEST(LogEntry, EmptyMessageEndsWithTheSpace) {
  EXPECT_EQ(FormatLogEntry("S", ""), "[ S ] ");
  EXPECT_EQ(FormatLogEntry("S", "  two  spaces "), "[ S ]   two  spaces ");
}

class LogFileTest : public ::testing::Test {
 protected:
  const std::string path = "C:\\Data\\Umbrane\\log.txt";
  FakeFileSystem files;
  LineList lines;
  LogFile log{files, path};

  void SetUp() override { files.AddFolder("C:\\Data\\Umbrane"); }
  void Add(const std::string& line) {
    lines.Add(line);
    log.Sync(lines);
  }
};

TEST_F(LogFileTest, FirstEntryReplacesTheEarlierRunsFile) {
  files.AddFile(path, "[ old ] from the run before\r\n[ old ] Closing...\r\n");
  Add("first");
  EXPECT_EQ(files.Content(path), "first\r\n");
  Add("second");
  EXPECT_EQ(files.Content(path), "first\r\nsecond\r\n");
}

TEST_F(LogFileTest, LaterEntriesAppendOnlyWhatIsNew) {
  Add("a");
  Add("b");
  // Someone else's bytes at the end prove the second write did not rewrite.
  std::string error;
  ASSERT_TRUE(files.WriteFile(path, "X\r\n", WriteMode::Append, error));
  Add("c");
  EXPECT_EQ(files.Content(path), "a\r\nb\r\nX\r\nc\r\n");
}

TEST_F(LogFileTest, FailedWriteRaisesAndTheEntryFollowsWithTheNextOne) {
  Add("a");
  files.failingWrites.insert(path);
  lines.Add("b");
  try {
    log.Sync(lines);
    FAIL() << "a failed write must raise";
  } catch (const LogWriteError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("used by another process"), std::string::npos);
  }
  EXPECT_EQ(files.Content(path), "a\r\n");
  EXPECT_EQ(lines.Lines(), std::vector<std::string>{"b"}) << "kept until it reaches the file";
  files.failingWrites.clear();
  Add("c");
  EXPECT_EQ(files.Content(path), "a\r\nb\r\nc\r\n");
  EXPECT_TRUE(lines.Empty());
}

TEST_F(LogFileTest, FailedFirstWriteStillReplacesTheOldFileLater) {
  files.AddFile(path, "old\r\n");
  files.failingWrites.insert(path);
  lines.Add("a");
  EXPECT_THROW(log.Sync(lines), LogWriteError);
  files.failingWrites.clear();
  Add("b");
  EXPECT_EQ(files.Content(path), "a\r\nb\r\n");
}

TEST_F(LogFileTest, OneOpenForTheRunAndACutShortWriteIsCompletedNeverRepeated) {
  std::string all;
  for (int i = 0; i < 50; ++i) {
    Add("entry " + std::to_string(i));
    all += "entry " + std::to_string(i) + "\r\n";
  }
  EXPECT_EQ(files.opens, 1) << "held open: one write an entry";
  files.shortAppends[path] = 4;  // the disk fills up in the middle of an entry
  lines.Add("cut short");
  EXPECT_THROW(log.Sync(lines), LogWriteError);
  EXPECT_EQ(files.Content(path)->substr(files.Content(path)->size() - 4), "cut ");
  files.shortAppends.clear();
  Add("after");
  EXPECT_EQ(files.Content(path), all + "cut short\r\nafter\r\n")
      << "the rest follows, nothing twice";
}

TEST_F(LogFileTest, AFullFileBecomesLog1AndANewOneStarts) {
  const std::string older = "C:\\Data\\Umbrane\\log.1.txt";
  LogFile capped(files, path, 20);
  EXPECT_EQ(capped.OlderPath(), older);
  const auto add = [&](std::initializer_list<const char*> entries) {
    for (const char* entry : entries) {
      lines.Add(entry);
      capped.Sync(lines);
    }
  };
  add({"one", "two", "three", "four"});
  EXPECT_EQ(files.Content(older), "one\r\ntwo\r\nthree\r\n") << "four would pass 20 bytes";
  add({"five", "six", "seven"});
  EXPECT_EQ(files.Content(older), "four\r\nfive\r\nsix\r\n") << "the older log.1.txt replaced";
  EXPECT_EQ(files.Content(path), "seven\r\n");
  files.failingWrites.insert(older);  // log.txt held open elsewhere: it grows on
  add({"eight", "nine", "ten"});
  EXPECT_EQ(files.Content(path), "seven\r\neight\r\nnine\r\nten\r\n");
  EXPECT_TRUE(lines.Empty());
}

TEST_F(LogFileTest, MissingFolderIsAFailure) {
  LogFile elsewhere(files, "C:\\Gone\\log.txt");
  lines.Add("a");
  EXPECT_THROW(elsewhere.Sync(lines), LogWriteError);
}

}  // namespace
}  // namespace umbrane
