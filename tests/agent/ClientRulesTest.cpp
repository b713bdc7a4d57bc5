// Whose clients the local proxy serves, the refusals told, and the
// system's table of connections read however it grows.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "base/GrowingTable.h"
#include "local/Admission.h"

namespace warden {
namespace {

using std::chrono::seconds;

// Whose clients are served, and the refusals told at most once a minute
// with the count of those not told; a release build never serves a client
// whose owner the system does not name.
TEST(Admissions, OnlyTheUsersOwnAreServedAndRefusalsAreToldOnceAMinute) {
  const Admissions::Clock::time_point t0{};
  const struct {
    bool serveUnnamed;
    Owner owner;
    int atSecond;
    bool serve;
    const char* told;  // the start of the line, or "" for none
  } steps[] = {
      {false, Owner::ThisUser, 0, true, ""},
      {false, Owner::Gone, 0, false, ""},
      {false, Owner::Unknown, 1, false,
       "160246 refused a connection from a program the system "
       "does not name (table)"},
      {false, Owner::OtherUser, 30, false, ""},
      {false, Owner::Unknown, 59, false, ""},
      {false, Owner::OtherUser, 61, false,
       "160246 refused a connection from another user's "
       "program (table); 2 more since the last such note"},
      {true, Owner::Unknown, 0, true, "160325 the system does not say"},
      {true, Owner::Unknown, 1, true, ""},
      {true, Owner::OtherUser, 2, false, "160246 refused a connection from another user's"},
  };
  Admissions release(false);
  Admissions test(true);
  for (const auto& step : steps) {
    Admissions& rules = step.serveUnnamed ? test : release;
    const Admission got = rules.Admit({step.owner, "table"}, t0 + seconds(step.atSecond));
    const std::string line = got.code == nullptr ? "" : std::string(got.code) + " " + got.text;
    EXPECT_EQ(got.serve, step.serve) << step.atSecond << " s";
    EXPECT_EQ(line.rfind(step.told, 0), 0u) << step.atSecond << " s: " << line;
    EXPECT_EQ(line.empty(), *step.told == '\0') << line;
  }
}

// A table that keeps growing between the question and the read, faster
// than the room given for it, is asked again until it fits, not given up
// on after a few tries; a failure gives nothing.
TEST(GrowingTable, ReadAgainWhileItGrowsUntilItFitsOrFails) {
  const struct {
    int growsFor;  // reads before each of which it grew by half
    bool fails;    // ... and then the read fails
    bool read;
  } cases[] = {{0, false, true}, {12, false, true}, {3, true, false}};
  for (const auto& c : cases) {
    int reads = 0;
    std::uint32_t need = 20000;
    const auto table = umbrane::ReadGrowingTable([&](unsigned char*, std::uint32_t* size) {
      if (reads++ < c.growsFor) {
        need += need / 2;
      } else if (c.fails) {
        return umbrane::TableRead::Failed;
      }
      if (*size < need) {
        *size = need;
        return umbrane::TableRead::TooSmall;
      }
      return umbrane::TableRead::Done;
    });
    EXPECT_EQ(table.has_value(), c.read) << c.growsFor;
    if (table) {
      EXPECT_GE(table->size(), need) << "the buffer held the whole table";
      EXPECT_GT(reads, c.growsFor) << "read again as long as it grew";
    }
  }
}

}  // namespace
}  // namespace warden
