#include <gtest/gtest.h>

#include "fakes.hpp"
#include "reports/lost_contact.hpp"

namespace cuserver {
namespace {

using testing::Fix;
using testing::LoadTrack;
using testing::ReportBench;

class LostContact : public ::testing::Test {
 protected:
  void Run(const std::vector<Fix>& fixes) {
    LoadTrack(bench.track, fixes);
    EXPECT_EQ(ComputeLostContact(bench.Context(), bench.track.Count()), 0);
  }
  ReportBench bench;
};

TEST_F(LostContact, GapOfExactlyAnHourIsNoRow) {
  Run({{"2014-03-19 08:00:00", "40"}, {"2014-03-19 09:00:00", "40"}});
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(LostContact, GapOfMoreThanAnHourIsOneExactRow) {
  Run({{"2014-03-19 08:00:00", "40"}, {"2014-03-19 09:00:01", "40"}});
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_EQ(bench.sink.statements[0].text,
            "insert into CONTACTALARM (SIMID,BEGINTIME,ENDTIME)values('13900000001','2014-03-19 "
            "08:00:00','2014-03-19 09:00:01')");
  EXPECT_EQ(bench.sink.statements[0].table, "CONTACTALARM");
  EXPECT_EQ(bench.sink.statements[0].simId, "13900000001");
}

TEST_F(LostContact, EveryGapIsItsOwnRow) {
  Run({{"2014-03-19 01:00:00", "0"}, {"2014-03-19 03:00:00", "0"}, {"2014-03-19 05:00:00", "0"}});
  EXPECT_EQ(bench.sink.statements.size(), 2u);
}

TEST_F(LostContact, SilenceBeforeTheFirstAndAfterTheLastFixIsNotCounted) {
  Run({{"2014-03-19 23:00:00", "0"}});
  EXPECT_TRUE(bench.sink.statements.empty());
  Run({{"2014-03-19 00:30:00", "0"}, {"2014-03-19 00:31:00", "0"}});
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(LostContact, ScanStopsAtTheEndMarkAndNeverReadsStaleSlots) {
  // A longer earlier vehicle leaves old times in the slots after the end mark.
  LoadTrack(bench.track, {{"2014-03-19 01:00:00", "0"}, {"2014-03-19 01:01:00", "0"},
                          {"2014-03-19 09:00:00", "0"}});
  LoadTrack(bench.track, {{"2014-03-19 01:00:00", "0"}});
  ComputeLostContact(bench.Context(), 3);
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(LostContact, EmptyTrackWritesNothing) {
  bench.track.Clear();
  EXPECT_EQ(ComputeLostContact(bench.Context(), 0), 0);
  EXPECT_TRUE(bench.sink.statements.empty());
}

TEST_F(LostContact, TimesOfTheWrongLengthCountAsShortGaps) {
  Run({{"2014-03-19 01:00:00", "0"}, {"", "0"}, {"2014-03-19 05:00", "0"}, {"2014-03-19 09:00:00", "0"}});
  EXPECT_TRUE(bench.sink.statements.empty());
}

// Each time's clock is read once and carried to the next gap; a time whose
// fields are not all digits falls back to the field-by-field reading, on
// either side of its two gaps.
TEST_F(LostContact, NonDigitFieldsReadFieldByFieldOnBothSidesOfTheirGaps) {
  Run({{"2014-03-19 08:00:00", "0"}, {"2014-03-19 0x:00:00", "0"}, {"2014-03-19 10:00:00", "0"},
       {"2014-03-19 10:30:00", "0"}, {"2014-03-19 11:3/:00", "0"}});
  // 08:00 to "0x:00" reads as 00:00 (no row); "0x:00" to 10:00 is ten hours;
  // 10:30 to "11:3/" reads as 11:03.
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_NE(bench.sink.statements[0].text.find("'2014-03-19 0x:00:00','2014-03-19 10:00:00'"), std::string::npos);
}

TEST(WriteLostContactRow, QuotesInValuesReachTheDatabaseDoubled) {
  ReportBench bench;
  EXPECT_EQ(WriteLostContactRow(bench.sink, "13'9", "2014-03-19 00:01:00", "2014-03-19 23:59:59"), 0);
  ASSERT_EQ(bench.sink.statements.size(), 1u);
  EXPECT_EQ(bench.sink.statements[0].text,
            "insert into CONTACTALARM (SIMID,BEGINTIME,ENDTIME)values('13''9','2014-03-19 "
            "00:01:00','2014-03-19 23:59:59')");
  EXPECT_EQ(bench.sink.statements[0].simId, "13'9");
}

TEST(WriteLostContactRow, RefusedRowIsMinusOneAndRecorded) {
  ReportBench bench;
  bench.sink.refuse = [](const std::string&) { return true; };
  EXPECT_EQ(WriteLostContactRow(bench.sink, "1390", "2014-03-19 00:01:00", "2014-03-19 23:59:59"), -1);
  EXPECT_EQ(bench.diagnostics.RefusedRows(), 1);
}

}  // namespace
}  // namespace cuserver
