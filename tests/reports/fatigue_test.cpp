#include <gtest/gtest.h>

#include "fakes.hpp"
#include "reports/fatigue.hpp"

namespace cuserver {
namespace {

using testing::Fix;
using testing::LoadTrack;
using testing::ReportBench;
using testing::TrackTime;

constexpr int kHour = 3600;

// Moving fixes every minute from `from` to `to` (seconds of the day), inclusive.
void Drive(std::vector<Fix>& fixes, int from, int to, const std::string& speed = "60") {
  for (int t = from; t <= to; t += 60) fixes.push_back({TrackTime(t), speed});
}

class Fatigue : public ::testing::Test {
 protected:
  void Run(const std::vector<Fix>& fixes) {
    LoadTrack(bench.track, fixes);
    EXPECT_EQ(ComputeFatigue(bench.Context(), bench.track.Count()), 0);
  }
  ReportBench bench;
};

TEST_F(Fatigue, MoreThanFourHoursEndedByARestIsOneExactRow) {
  std::vector<Fix> fixes;
  Drive(fixes, 6 * kHour, 10 * kHour);
  fixes.push_back({"2014-03-19 10:00:01", "60"});
  fixes.push_back({"2014-03-19 10:01:00", "0"});
  fixes.push_back({"2014-03-19 10:07:00", "60"});
  Run(fixes);
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_EQ(bench.sink.statements[0].text,
            "insert into tireddriver(SIMID,begintime,ENDTIME,addtime)values('13900000001','2014-03-19 "
            "06:00:00','2014-03-19 10:00:01','14401')");
  EXPECT_EQ(bench.sink.statements[0].table, "tireddriver");
}

TEST_F(Fatigue, ExactlyFourHoursIsNoRow) {
  std::vector<Fix> fixes;
  Drive(fixes, 6 * kHour, 10 * kHour);
  fixes.push_back({"2014-03-19 10:01:00", "0"});
  fixes.push_back({"2014-03-19 10:07:00", "60"});
  Run(fixes);
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(Fatigue, PauseOfExactly300SecondsDoesNotSplitTheStretch) {
  std::vector<Fix> fixes;
  Drive(fixes, 6 * kHour, 8 * kHour);
  fixes.push_back({TrackTime(8 * kHour + 30), "0"});
  Drive(fixes, 8 * kHour + 330, 11 * kHour);
  fixes.push_back({TrackTime(11 * kHour + 60), "0"});
  fixes.push_back({TrackTime(11 * kHour + 400), "60"});
  Run(fixes);
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'2014-03-19 06:00:00','2014-03-19 10:59:30','17970')"),
            std::string::npos)
      << bench.sink.statements[0].text;
}

TEST_F(Fatigue, StretchOpenAtTheEndOfTheTrackIsNotWritten) {
  std::vector<Fix> fixes;
  Drive(fixes, 6 * kHour, 23 * kHour + 50 * 60);
  Run(fixes);
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(Fatigue, SingleMovingFixStretchHasNoEndAndNoRow) {
  Run({{"2014-03-19 06:00:00", "60"},
       {"2014-03-19 06:01:00", "0"},
       {"2014-03-19 07:00:00", "60"},
       {"2014-03-19 07:01:00", "0"},
       {"2014-03-19 12:00:00", "60"}});
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(Fatigue, FiveIsStandingAndJustAboveIsMoving) {
  std::vector<Fix> fixes;
  Drive(fixes, 6 * kHour, 11 * kHour, "5.1");
  fixes.push_back({TrackTime(11 * kHour + 60), "5.0"});
  fixes.push_back({TrackTime(11 * kHour + 600), "5.1"});
  Run(fixes);
  EXPECT_EQ(bench.sink.statements.size(), 1u);
  bench.sink.statements.clear();
  fixes.clear();
  Drive(fixes, 6 * kHour, 11 * kHour, "5.0");
  fixes.push_back({TrackTime(11 * kHour + 60), "0"});
  fixes.push_back({TrackTime(11 * kHour + 600), "60"});
  Run(fixes);
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(Fatigue, GarbledTimesAndSpeedsNeitherCrashNorWrite) {
  Run({{"", "60"}, {"bad", "x"}, {"", "0"}, {"2014-03-19 12:00:00", "60"}, {"", "70"}, {"2014", "0"},
       {"2014-03-19 23:00:00", "60"}, {"2014-03-19 23:01:00", "0"}, {"2014-03-19 23:50:00", "60"}});
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST(WriteFatigueRow, EmptyTimeIsNoRow) {
  ReportBench bench;
  EXPECT_EQ(WriteFatigueRow(bench.sink, "1390", "", "2014-03-19 10:00:00"), -1);
  EXPECT_EQ(WriteFatigueRow(bench.sink, "1390", "2014-03-19 10:00:00", ""), -1);
  EXPECT_TRUE(bench.sink.statements.empty());
  bench.sink.refuse = [](const std::string&) { return true; };
  EXPECT_EQ(WriteFatigueRow(bench.sink, "1390", "2014-03-19 06:00:00", "2014-03-19 11:00:00"), -1);
}

}  // namespace
}  // namespace cuserver
