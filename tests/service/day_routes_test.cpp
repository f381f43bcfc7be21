// /api/days and /metrics of a running control server over a real start
// directory: what monitoring and the page read about the days computed.

#include <gtest/gtest.h>

#include <httplib.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <sstream>

#include "db/ledger.hpp"
#include "db/row_statements.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

// A ledger whose first service day is 20140317 and, on 2014-03-21, a
// catch-up window of five days, 20140316 to 20140320, that leaves the
// service's catch-up nothing to run:
//   20140318 failed twice, the retry limit: waits for an operator
//   20140319 complete
// Once the service has started, GPS tables for 20140316 (before the first
// service day) and 20140317 (not computed: the next tick's to run).
struct DayRoutesFixture : ServiceFixture {
  explicit DayRoutesFixture(std::string token = {}) {
    clock.Set(2014, 3, 21, 10);
    start.WriteSettings(
        "[General]\nBackend=sqlite3\nDataSource=fleet.db\nUSERID=\nPassword=\n[Service]\nCatchUpDays=5\n"
        "RetryLimit=2\n");
    Ledger ledger(start.Db());
    ledger.EnsureTables();
    ledger.RecordFirstServiceDay("20140317");
    auto day = [&ledger](std::string_view command, const char* key, DayOutcome outcome, DayCounts counts,
                         const char* ended) {
      ledger.BeginDay(command, key, "1/1", "host", 7, "2014-03-20 01:00:00");
      ledger.EndDay(command, key, "1/1", outcome, counts, ended, "");
    };
    day(kDayRunCommand, "20140318", DayOutcome::Failed, DayCounts{}, "2014-03-20 01:00:05");
    day(kDayRunCommand, "20140318", DayOutcome::Failed, DayCounts{}, "2014-03-20 01:00:05");
    day(kDayRunCommand, "20140319", DayOutcome::Complete, DayCounts{2, 2, 0, 40, 2, 0}, "2014-03-20 02:00:00");
    day(kLineAlarmCommand, "20140319", DayOutcome::Complete, DayCounts{2, 2, 0, 7, 0, 0}, "2014-03-20 02:05:00");
    // Track quality: two vehicles of the 19th, one of the 18th.
    const TrackQuality counted[] = {{10, 1, 0, 2, 0, 1}, {20, 0, 3, 0, 1, 0}, {99, 9, 9, 9, 9, 9}};
    const char* keys[][2] = {{"20140319", "13900000001"}, {"20140319", "13900000002"}, {"20140318", "13900000001"}};
    for (int i = 0; i < 3; ++i) {
      for (const ReportRow& row :
           ledger.ReplaceVehicleDayRows(kDayRunCommand, keys[i][0], keys[i][1], 0, "", false, &counted[i])) {
        ExecuteRow(start.Db(), row);
      }
    }

    Started();
    server = std::make_unique<ControlServer>(*service, ControlServerOptions{"127.0.0.1", 0, std::move(token)});
    port = server->Start();
    service->Queue().WaitIdle();
    start.AddDrive("20140316", "13900000001", 3, 60);
    start.AddDrive("20140317", "13900000001", 3, 60);
  }
  httplib::Client Client() const { return httplib::Client("127.0.0.1", port); }

  std::unique_ptr<ControlServer> server;
  int port = 0;
};

// The value text of the sample line "SERIES VALUE", empty when there is none.
std::string Sample(const std::string& text, const std::string& series) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(series + " ")) return line.substr(series.size() + 1);
  }
  return {};
}

TEST(DayRoutes, MetricsCountTheCatchUpWindowTheLedgerAndTheRunsOfTheService) {
  DayRoutesFixture page;
  page.start.AddVehicle("13900000001");  // no GPS table that day: skipped, so the run fails
  page.start.AddVehicle("13900000001");  // listed again
  auto accepted = page.Client().Post("/api/run-day", R"({"day":"20140310"})", "application/json");
  ASSERT_TRUE(accepted);
  ASSERT_EQ(accepted->status, 202);
  page.service->Queue().WaitIdle();

  auto scrape = page.Client().Get("/metrics");
  ASSERT_TRUE(scrape);
  ASSERT_EQ(scrape->status, 200);
  EXPECT_TRUE(scrape->get_header_value("Content-Type").starts_with("text/plain; version=0.0.4"));
  const std::string& text = scrape->body;
  EXPECT_EQ(Sample(text, "cuserver_ledger_up"), "1") << text;
  EXPECT_EQ(Sample(text, "cuserver_last_complete_day"), "20140319");
  std::tm ended{};  // 2014-03-20 02:00:00 local time
  ended.tm_year = 114;
  ended.tm_mon = 2;
  ended.tm_mday = 20;
  ended.tm_hour = 2;
  ended.tm_isdst = -1;
  EXPECT_EQ(Sample(text, "cuserver_last_complete_day_timestamp_seconds"), std::to_string(std::mktime(&ended)));
  EXPECT_EQ(Sample(text, "cuserver_days_missing"), "1");
  EXPECT_EQ(Sample(text, "cuserver_days_failed"), "1");
  EXPECT_EQ(Sample(text, R"(cuserver_rows_written_total{command="run-day"})"), "40");
  EXPECT_EQ(Sample(text, R"(cuserver_rows_written_total{command="line-alarms"})"), "7");
  EXPECT_EQ(Sample(text, R"(cuserver_rows_refused_total{command="run-day"})"), "2");
  EXPECT_NE(Sample(text, R"(cuserver_vehicles_skipped_total{command="run-day"})"), "");
  EXPECT_EQ(Sample(text, R"(cuserver_runs_total{outcome="failed"})"), "1");
  EXPECT_EQ(Sample(text, R"(cuserver_runs_total{outcome="succeeded"})"), "0");
  EXPECT_NE(Sample(text, R"(cuserver_run_duration_seconds{command="run-day"})"), "");
  EXPECT_EQ(Sample(text, "cuserver_track_quality_day"), "20140319");
  const std::pair<const char*, const char*> totals[] = {{"fixes", "30"},   {"withoutPosition", "1"}, {"otherDay", "3"},
                                                       {"sameTime", "2"}, {"backwards", "1"},       {"jumps", "1"}};
  for (const auto& [kind, total] : totals) {
    EXPECT_EQ(Sample(text, fmt::format(R"(cuserver_track_quality_fixes{{kind="{}"}})", kind)), total) << kind;
  }
  EXPECT_EQ(Sample(text, R"(cuserver_catalogue_listings_left_out{reason="repeated"})"), "1") << text;

  bool logged = false;
  for (const ServiceMessage& message : page.log.Recent()) {
    logged = logged || (message.level == "error" && message.text.starts_with("计算一天 20140310: "));
  }
  EXPECT_TRUE(logged) << "a run that did not write everything ends with an error line naming it";
}

TEST(DayRoutes, DaysAnswerTheLedgerStatesBehindTheToken) {
  DayRoutesFixture page("s3cret");
  const httplib::Headers token = {{"Authorization", "Bearer s3cret"}};
  EXPECT_EQ(page.Client().Get("/api/days")->status, 401);
  EXPECT_EQ(page.Client().Get("/metrics")->status, 401);
  EXPECT_EQ(page.Client().Get("/metrics", token)->status, 200);
  EXPECT_EQ(page.Client().Get("/api/days?from=20140230", token)->status, 400);

  auto backwards = page.Client().Get("/api/days?from=2014-03-20&to=2014-03-18", token);
  EXPECT_EQ(backwards->status, 400);
  EXPECT_NE(backwards->body.find("起始日 2014-03-20 晚于结束日 2014-03-18"), std::string::npos) << backwards->body;

  auto days = page.Client().Get("/api/days?from=2014-03-18&to=20140320", token);
  ASSERT_TRUE(days);
  ASSERT_EQ(days->status, 200) << days->body;
  const nlohmann::json states = nlohmann::json::parse(days->body);
  ASSERT_EQ(states.size(), 3u);
  EXPECT_EQ(states[0]["state"], "waiting for an operator");
  EXPECT_EQ(states[1]["state"], "complete");
  EXPECT_EQ(states[1]["ended"], "2014-03-20 02:00:00");
  EXPECT_EQ(states[1]["shards"][0]["rowsRefused"], 2);
  EXPECT_EQ(states[2]["state"], "no GPS table");

  const nlohmann::json week = nlohmann::json::parse(page.Client().Get("/api/days", token)->body);
  ASSERT_EQ(week.size(), 7u) << "the seven days up to the service clock's yesterday";
  EXPECT_EQ(week[0]["day"], "20140314");
  EXPECT_EQ(week[6]["day"], "20140320");
}

}  // namespace
}  // namespace cuserver
