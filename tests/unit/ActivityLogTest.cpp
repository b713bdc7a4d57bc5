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
  files.failingWrites.clear();
  Add("c");
  EXPECT_EQ(files.Content(path), lines.Text());
  EXPECT_EQ(files.Content(path), "a\r\nb\r\nc\r\n");
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
  for (int i = 0; i < 50; ++i) {
    Add("entry " + std::to_string(i));
  }
  EXPECT_EQ(files.opens, 1) << "held open: one write an entry";
  files.shortAppends[path] = 4;  // the disk fills up in the middle of an entry
  lines.Add("cut short");
  EXPECT_THROW(log.Sync(lines), LogWriteError);
  EXPECT_EQ(files.Content(path)->substr(files.Content(path)->size() - 4), "cut ");
  files.shortAppends.clear();
  Add("after");
  EXPECT_EQ(files.Content(path), lines.Text()) << "the rest follows, nothing twice";
}

TEST_F(LogFileTest, MissingFolderIsAFailure) {
  LogFile elsewhere(files, "C:\\Gone\\log.txt");
  lines.Add("a");
  EXPECT_THROW(elsewhere.Sync(lines), LogWriteError);
}

}  // namespace
}  // namespace umbrane
