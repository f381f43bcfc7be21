// Reading a day's report rows back, over the rows of a real day run on each
// backend.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "backend_database.hpp"
#include "db/report_reader.hpp"
#include "map/map_services.hpp"
#include "run/caption.hpp"
#include "run/day_run.hpp"
#include "run/run_log.hpp"

namespace cuserver {
namespace {

using namespace std::chrono;

constexpr year_month_day kDay{year{2014}, March, day{19}};

struct KindCase {
  ReportKind kind;
  std::string table;
  std::string timeColumn;
};

const std::vector<KindCase> kKinds = {
    {ReportKind::Mileage, "vehicledistance201403", "BEGINTIME"}, {ReportKind::Speeding, "speedalarm201403", "TIMELOG"},
    {ReportKind::Parking, "parkinglog201403", "BEGINTIME"},      {ReportKind::Fatigue, "tireddriver", "begintime"},
    {ReportKind::LostContact, "CONTACTALARM", "BEGINTIME"},      {ReportKind::LineAlarms, "LINEALARMREPROT", "BEGINTIME"},
};

class ReportReaderTest : public ::testing::TestWithParam<std::string> {
 protected:
  ReportReaderTest() : database_(GetParam()), map_(CreateMapServices(30)), runLog_(database_.Folder()) {
    SimulateTestFleet(database_);
    map_->LoadGeoset(database_.Folder() / "HighWay" / "HIGHWAY.gst");
    std::ofstream(database_.Folder() / "report.ini")
        << "[General]\r\nUSECAR=TRUE\r\nBEGINTIME=06:30\r\nENDTIME=20:30\r\nGENERALWAY=80\r\n"
           "HIGHWAY=120\r\nHIGHSPEED=250\r\nSPEEDTIMESPAN=60\r\n";
    SilentCaption caption;
    Diagnostics diagnostics([](const std::string&) {});
    DayRunSetup setup{database_.Settings(), *map_, limits_, database_.Folder() / "report.ini", runLog_, caption,
                      diagnostics};
    DayRun("20140319", setup);
  }

  BackendDatabase database_;
  std::unique_ptr<MapServices> map_;
  SpeedLimitTable limits_;
  RunLog runLog_;
};

TEST_P(ReportReaderTest, ReadsEachKindsRowsOfTheDayOnlyWithPlateAndFleet) {
  const std::string stranger = "19999999999";  // in no catalogue
  for (const KindCase& c : kKinds) {
    // The last second before the day and the first after it stay out; a
    // vehicle the catalogue does not know still shows.
    for (const char* time : {"2014-03-18 23:59:59", "2014-03-20 00:00:00", "2014-03-19 23:59:59"}) {
      database_.Execute(fmt::format("insert into {} (SIMID, {}) values ('{}', '{}')", c.table, c.timeColumn,
                                    stranger, time));
    }
    const int stored = database_.Count(c.table);
    const ReportPage page = ReadReportRows(database_.Db(), {kDay, c.kind, "", 0, std::nullopt});
    SCOPED_TRACE(c.table);
    EXPECT_EQ(page.table, c.table);
    EXPECT_EQ(page.total, static_cast<std::size_t>(stored - 2));
    ASSERT_EQ(page.rows.size(), page.total);
    ASSERT_EQ(page.columns[0], "SIMID");
    EXPECT_TRUE(std::is_sorted(page.rows.begin(), page.rows.end(),
                               [](const auto& a, const auto& b) { return a[0] < b[0] || (a[0] == b[0] && a[3] < b[3]); }));
    const auto strangers = std::count_if(page.rows.begin(), page.rows.end(), [&](const auto& row) {
      return row[0] == stranger && row[1].empty() && row[2].empty();
    });
    EXPECT_EQ(strangers, 1);
    if (c.kind != ReportKind::LineAlarms) {
      ASSERT_GT(page.total, 1u) << "the run should have written rows";
      EXPECT_TRUE(std::any_of(page.rows.begin(), page.rows.end(),
                              [](const auto& row) { return !row[1].empty() && !row[2].empty(); }))
          << "licence plate and fleet";
    }

    // One vehicle, and a page of its rows.
    const std::string simId = page.rows.front()[0];
    const ReportPage one = ReadReportRows(database_.Db(), {kDay, c.kind, simId, 0, std::nullopt});
    const auto ofVehicle = std::count_if(page.rows.begin(), page.rows.end(), [&](const auto& r) { return r[0] == simId; });
    EXPECT_EQ(one.total, static_cast<std::size_t>(ofVehicle));
    const ReportPage slice = ReadReportRows(database_.Db(), {kDay, c.kind, "", 1, 2});
    EXPECT_EQ(slice.total, page.total);
    const auto from = page.rows.begin() + 1;
    EXPECT_EQ(slice.rows, decltype(page.rows)(from, from + std::min<std::ptrdiff_t>(2, page.rows.end() - from)));
  }
  const year_month_day noTables{year{2014}, April, day{2}};
  EXPECT_EQ(ReadReportRows(database_.Db(), {noTables, ReportKind::Parking, "", 0, std::nullopt}).total, 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, ReportReaderTest, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
