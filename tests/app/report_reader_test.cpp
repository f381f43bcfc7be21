// Reading a day's report rows back, over the rows of a real day run on each
// backend.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>

#include "backend_database.hpp"
#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/period_summary.hpp"
#include "db/report_reader.hpp"
#include "db/report_sql.hpp"
#include "reports/time_arith.hpp"
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
    const ReportPage page = ReadReportRows(database_.Db(), {kDay, c.kind, "", 0, std::nullopt, "", "", false});
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
    const ReportPage one = ReadReportRows(database_.Db(), {kDay, c.kind, simId, 0, std::nullopt, "", "", false});
    const auto ofVehicle = std::count_if(page.rows.begin(), page.rows.end(), [&](const auto& r) { return r[0] == simId; });
    EXPECT_EQ(one.total, static_cast<std::size_t>(ofVehicle));
    const ReportPage slice = ReadReportRows(database_.Db(), {kDay, c.kind, "", 1, 2, "", "", false});
    EXPECT_EQ(slice.total, page.total);
    const auto from = page.rows.begin() + 1;
    EXPECT_EQ(slice.rows, decltype(page.rows)(from, from + std::min<std::ptrdiff_t>(2, page.rows.end() - from)));
  }
  const year_month_day noTables{year{2014}, April, day{2}};
  EXPECT_EQ(
      ReadReportRows(database_.Db(), {noTables, ReportKind::Parking, "", 0, std::nullopt, "", "", false}).total, 0u);
}

// Pages of a filtered, sorted read put together give the whole filtered,
// sorted read; numbers sort as numbers and ties keep SIMID and time order.
TEST_P(ReportReaderTest, FiltersSortsAndPagesTheDaysRows) {
  struct Case {
    ReportKind kind;
    std::string filter;
    std::string sort;
    bool descending;
    bool numeric;
  };
  const std::vector<Case> cases = {
      {ReportKind::Mileage, "", "DISTANCE", true, true},
      {ReportKind::Speeding, "", "SPEED", false, true},
      {ReportKind::Speeding, "a0001", "MOTORCADENAME", true, false},  // plates 云A0001x, whatever the case
      {ReportKind::Parking, "模拟车队2", "ENDTIME", false, false},
      {ReportKind::Mileage, "1390000001", "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ReportKindName(c.kind)) + " filter=" + c.filter + " sort=" + c.sort);
    ReportQuery all{kDay, c.kind, "", 0, std::nullopt, "", "", false};
    const ReportPage unfiltered = ReadReportRows(database_.Db(), all);
    all.filter = c.filter;
    all.sortColumn = c.sort;
    all.descending = c.descending;
    const ReportPage whole = ReadReportRows(database_.Db(), all);
    EXPECT_EQ(whole.total, whole.rows.size());
    const auto matching = std::count_if(unfiltered.rows.begin(), unfiltered.rows.end(), [&](const auto& row) {
      std::string text = row[0] + "|" + row[1] + "|" + row[2];
      for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return text.find(c.filter) != std::string::npos;
    });
    EXPECT_EQ(whole.total, static_cast<std::size_t>(matching));
    ASSERT_GT(whole.total, 3u) << "the case should have rows to order";
    if (!c.filter.empty()) {
      EXPECT_LT(whole.total, unfiltered.total);
    }

    if (!c.sort.empty()) {
      const auto column = static_cast<std::size_t>(
          std::find(whole.columns.begin(), whole.columns.end(), c.sort) - whole.columns.begin());
      for (std::size_t i = 1; i < whole.rows.size(); ++i) {
        const auto& a = whole.rows[c.descending ? i : i - 1];
        const auto& b = whole.rows[c.descending ? i - 1 : i];
        if (c.numeric) {
          ASSERT_LE(std::stod(a[column]), std::stod(b[column])) << i;
        } else {
          ASSERT_LE(a[column], b[column]) << i;
        }
        if (a[column] == b[column]) {
          const auto& first = whole.rows[i - 1];
          const auto& second = whole.rows[i];
          ASSERT_TRUE(first[0] < second[0] || (first[0] == second[0] && first[3] <= second[3])) << "tie at " << i;
        }
      }
    }

    ReportQuery paged = all;
    paged.limit = 3;
    std::vector<std::vector<std::string>> joined;
    for (paged.offset = 0; paged.offset < whole.total + 3; paged.offset += 3) {
      const ReportPage page = ReadReportRows(database_.Db(), paged);
      EXPECT_EQ(page.total, whole.total);
      joined.insert(joined.end(), page.rows.begin(), page.rows.end());
    }
    EXPECT_EQ(joined, whole.rows);
  }
}

// The summary's counts are the report tables' rows of the day, its vehicles
// those with a fix in the GPS day table.
TEST_P(ReportReaderTest, SummarisesTheDayAsItsTablesHoldIt) {
  database_.Execute("insert into tireddriver (SIMID, begintime) values ('13900000001', '2014-03-20 08:00:00')");
  const ReportSummary summary = ReadReportSummary(database_.Db(), kDay);
  ASSERT_EQ(summary.rows.size(), AllReportKinds().size());
  double kilometres = 0;
  for (const auto& [kind, rows] : summary.rows) {
    // Quality counts the vehicles the page's tab lists: those with a count above 0.
    const ReportPage page = ReadReportRows(database_.Db(), {kDay, kind, "", 0, std::nullopt, "", "", false,
                                                            kind == ReportKind::Quality});
    EXPECT_EQ(rows, page.total) << ReportKindName(kind);
    if (kind == ReportKind::Mileage) {
      for (const auto& row : page.rows) kilometres += std::stod(row.back());
    }
  }
  auto withFixes = database_.Db().OpenQuery("select count(distinct SIMID) as n from GPSDATA20140319");
  const std::size_t vehicles = std::stoul(withFixes->Value("n").value_or("0"));
  withFixes->Close();
  EXPECT_EQ(summary.vehicles, vehicles);
  EXPECT_LT(summary.vehicles, static_cast<std::size_t>(database_.Count("vehicleinfo"))) << "a silent vehicle";
  EXPECT_NEAR(summary.kilometres, kilometres, 1e-6);
  EXPECT_GT(summary.kilometres, 0);
  const year_month_day noTables{year{2014}, April, day{2}};
  EXPECT_EQ(ReadReportSummary(database_.Db(), noTables).vehicles, 0u);
}

// The same day's rows again on the month's last day and on the next month's
// first, in tables of that month: a period crossing months.
void CopyDayRows(BackendDatabase& database, const std::string& backend, int days, const std::string& to) {
  struct Copied {
    std::string family;
    bool monthly;
    std::vector<std::string> times;
  };
  const std::vector<Copied> tables = {{"vehicledistance", true, {"BEGINTIME", "ENDTIME"}},
                                      {"speedalarm", true, {"TIMELOG", "ENDTIME"}},
                                      {"parkinglog", true, {"BEGINTIME", "ENDTIME"}},
                                      {"tireddriver", false, {"begintime", "ENDTIME"}},
                                      {"CONTACTALARM", false, {"BEGINTIME", "ENDTIME"}}};
  for (const Copied& table : tables) {
    const std::string from = table.monthly ? table.family + "201403" : table.family;
    const std::string into = table.monthly ? table.family + to.substr(0, 4) + to.substr(5, 2) : table.family;
    database.Execute(fmt::format("create table copied as select * from {} t where {} = '2014-03-19'", from,
                                 DayOfTimeSql(database.Db(), "t." + table.times[0])));
    for (const std::string& column : table.times) {
      const bool timestamp = backend == "postgresql" && table.family == "parkinglog";
      database.Execute(fmt::format("update copied set {0} = {1}", column,
                                   timestamp ? fmt::format("{} + interval '{} day'", column, days)
                                             : fmt::format("replace({}, '2014-03-19', '{}')", column, to)));
    }
    if (into != from && !TableExists(database.Db(), into)) {
      database.Execute(fmt::format("create table {} as select * from copied where 1 = 0", into));
    }
    database.Execute(fmt::format("insert into {} select * from copied", into));
    database.Execute("drop table copied");
  }
}

long long SecondsOfTime(const std::string& text) { return ParseTrackTime(text).value_or(0); }

// The summary's sums, read by SQL per vehicle and day, are those of the rows
// themselves over a period crossing a month; per day and per fleet add up to
// the same; a period's rows page across the months' tables.
TEST_P(ReportReaderTest, APeriodsSummaryIsTheSumOfItsRows) {
  CopyDayRows(database_, GetParam(), 12, "2014-03-31");
  CopyDayRows(database_, GetParam(), 13, "2014-04-01");
  const year_month_day to{year{2014}, April, day{1}};
  auto rowsOf = [&](ReportKind kind) {
    ReportQuery query{kDay, kind, "", 0, std::nullopt, "", "", false};
    query.to = to;
    return ReadReportRows(database_.Db(), query);
  };

  std::map<std::string, SummaryFigures> expected;
  std::set<std::pair<std::string, std::string>> daysWithFixes;
  for (const auto& row : rowsOf(ReportKind::Mileage).rows) {
    expected[row[0]].kilometres += std::stod(row[5]);
    if (!row[3].ends_with("00:01:00") || !row[4].ends_with("23:59:59")) daysWithFixes.emplace(row[0], row[3].substr(0, 10));
  }
  for (const auto& [simId, date] : daysWithFixes) expected[simId].days += 1;
  for (const auto& row : rowsOf(ReportKind::Speeding).rows) {
    expected[row[0]].speeding += 1;
    expected[row[0]].speedingSeconds += std::stoll(row[5]);
  }
  for (const auto& row : rowsOf(ReportKind::Parking).rows) {
    expected[row[0]].parking += 1;
    expected[row[0]].parkingSeconds += SecondsOfTime(row[4].substr(0, 19)) - SecondsOfTime(row[3].substr(0, 19));
  }
  for (const auto& row : rowsOf(ReportKind::Fatigue).rows) expected[row[0]].fatigue += 1;
  for (const auto& row : rowsOf(ReportKind::LostContact).rows) expected[row[0]].lostContact += 1;
  ASSERT_GT(daysWithFixes.size(), 3u);

  SummaryQuery query{kDay, to, SummaryPer::Vehicle, "", ""};
  const PeriodSummary perVehicle = ReadPeriodSummary(database_.Db(), query);
  ASSERT_EQ(perVehicle.rows.size(), expected.size());
  for (const SummaryRow& row : perVehicle.rows) {
    SCOPED_TRACE(row.simId);
    const SummaryFigures& want = expected.at(row.simId);
    EXPECT_NEAR(row.figures.kilometres, want.kilometres, 1e-6);
    EXPECT_EQ(row.figures.days, want.days);
    EXPECT_EQ(row.figures.speeding, want.speeding);
    EXPECT_EQ(row.figures.speedingSeconds, want.speedingSeconds);
    EXPECT_EQ(row.figures.parking, want.parking);
    EXPECT_EQ(row.figures.parkingSeconds, want.parkingSeconds);
    EXPECT_EQ(row.figures.fatigue, want.fatigue);
    EXPECT_EQ(row.figures.lostContact, want.lostContact);
  }
  EXPECT_EQ(perVehicle.totals.quality.fixes, Ledger(database_.Db()).DayQualityTotal("20140319")->fixes);

  for (SummaryPer per : {SummaryPer::Day, SummaryPer::Fleet}) {
    query.per = per;
    const PeriodSummary summary = ReadPeriodSummary(database_.Db(), query);
    SummaryFigures sum;
    for (const SummaryRow& row : summary.rows) sum.Add(row.figures);
    EXPECT_EQ(sum.speedingSeconds, perVehicle.totals.speedingSeconds) << SummaryPerName(per);
    EXPECT_EQ(sum.days, perVehicle.totals.days) << SummaryPerName(per);
    EXPECT_NEAR(sum.kilometres, perVehicle.totals.kilometres, 1e-6) << SummaryPerName(per);
    if (per == SummaryPer::Day) {
      EXPECT_EQ(summary.rows.size(), 14u) << "every day of the period, rows or not";
    }
  }

  // Two vehicles named apart by a Chinese comma.
  query.per = SummaryPer::Vehicle;
  query.filter = perVehicle.rows[0].simId + "，" + perVehicle.rows[1].simId;
  EXPECT_EQ(ReadPeriodSummary(database_.Db(), query).rows.size(), 2u);

  // A page that starts in March's table and ends in April's.
  const ReportPage all = rowsOf(ReportKind::Speeding);
  ReportQuery page{kDay, ReportKind::Speeding, "", 0, 5, "", "", false};
  page.to = to;
  ASSERT_GT(all.rows.size(), 10u);
  std::size_t march = 0;
  for (const auto& row : all.rows) march += row[3].starts_with("2014-03") ? 1 : 0;
  page.offset = march - 2;
  const ReportPage slice = ReadReportRows(database_.Db(), page);
  EXPECT_EQ(slice.total, all.total);
  ASSERT_EQ(slice.rows.size(), 5u);
  EXPECT_TRUE(std::equal(slice.rows.begin(), slice.rows.end(), all.rows.begin() + static_cast<std::ptrdiff_t>(march - 2)));
  EXPECT_TRUE(slice.rows[1][3].starts_with("2014-03") && slice.rows[2][3].starts_with("2014-04"));
}

INSTANTIATE_TEST_SUITE_P(Backends, ReportReaderTest, ::testing::ValuesIn(SqlBackends()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace cuserver
