// /api/reports of a running control server: a day's rows as JSON and as a
// file to take away.

#include <gtest/gtest.h>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "db/ledger.hpp"
#include "db/row_statements.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

TEST(ReportRoutes, AnswerAPageOfTheDaysRowsAndTheCsvFile) {
  ServiceFixture fixture;
  fixture.clock.Set(2014, 3, 21, 10);
  fixture.start.AddVehicle("13900000001", "云G12345");
  for (const char* time : {"2014-03-19 10:00:00", "2014-03-19 11:00:00", "2014-03-20 10:00:00"}) {
    fixture.start.Db().ExecuteStatement(
        std::string("insert into tireddriver (SIMID,begintime,ENDTIME,addtime) values ('13900000001','") + time +
        "','2014-03-19 12:00:00','3600')");
  }
  fixture.Started();
  ControlServer server(*fixture.service, ControlServerOptions{"127.0.0.1", 0, ""});
  httplib::Client client("127.0.0.1", server.Start());

  auto page = client.Get("/api/reports?day=20140319&kind=fatigue&offset=1&limit=5");
  ASSERT_TRUE(page);
  ASSERT_EQ(page->status, 200) << page->body;
  const auto json = nlohmann::json::parse(page->body);
  EXPECT_EQ(json["day"], "20140319");
  EXPECT_EQ(json["kind"], "fatigue");
  EXPECT_EQ(json["total"], 2);
  ASSERT_EQ(json["rows"].size(), 1u);
  EXPECT_EQ(json["rows"][0][1], "云G12345");
  EXPECT_EQ(json["rows"][0][3], "2014-03-19 11:00:00");

  auto csv = client.Get("/api/reports.csv?day=20140319&kind=fatigue");
  ASSERT_TRUE(csv);
  EXPECT_EQ(csv->status, 200);
  EXPECT_EQ(csv->get_header_value("Content-Disposition"), "attachment; filename=\"fatigue-20140319.csv\"");
  EXPECT_TRUE(csv->body.starts_with("\xEF\xBB\xBFSIM卡号,车牌,车队,开始时间,结束时间,连续驾驶（秒）\r\n"));

  auto sorted = client.Get("/api/reports?day=20140319&kind=fatigue&filter=g123&sort=BEGINTIME&order=desc&limit=1");
  ASSERT_TRUE(sorted);
  ASSERT_EQ(sorted->status, 200) << sorted->body;
  EXPECT_EQ(nlohmann::json::parse(sorted->body)["rows"][0][3], "2014-03-19 11:00:00");

  auto summary = client.Get("/api/summary?day=2014-03-19");
  ASSERT_TRUE(summary);
  ASSERT_EQ(summary->status, 200) << summary->body;
  EXPECT_EQ(nlohmann::json::parse(summary->body)["kinds"]["fatigue"], 2);
  EXPECT_EQ(nlohmann::json::parse(summary->body)["day"], "20140319");
  EXPECT_EQ(nlohmann::json::parse(summary->body)["dayState"], "no GPS table");

  // A vehicle is a value, whatever it holds.
  auto odd = client.Get("/api/reports?day=20140319&kind=fatigue&vehicle=13900000001%00%27%20or%20%271%27=%271");
  ASSERT_TRUE(odd);
  ASSERT_EQ(odd->status, 200) << odd->body;
  EXPECT_EQ(nlohmann::json::parse(odd->body)["total"], 0);

  // Over a period: per vehicle, per day with every day listed, and the workbook.
  auto period = client.Get("/api/summary?from=2014-03-19&to=20140320&filter=x%20g123");
  ASSERT_TRUE(period);
  ASSERT_EQ(period->status, 200) << period->body;
  const auto periodJson = nlohmann::json::parse(period->body);
  EXPECT_EQ(periodJson["rows"][0]["licensePlate"], "云G12345");
  EXPECT_EQ(periodJson["rows"][0]["fatigue"], 3);
  EXPECT_EQ(periodJson["totals"]["fatigue"], 3);
  EXPECT_EQ(periodJson["dayStates"].size(), 2u);
  auto perDay = client.Get("/api/summary?from=20140319&to=20140321&per=day&sort=fatigue&order=desc");
  ASSERT_TRUE(perDay);
  const auto days = nlohmann::json::parse(perDay->body)["rows"];
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0]["day"], "20140319");
  EXPECT_EQ(days[0]["fatigue"], 2);
  auto workbook = client.Get("/api/summary.xlsx?from=20140319&to=20140320&per=fleet");
  ASSERT_TRUE(workbook);
  EXPECT_EQ(workbook->status, 200);
  EXPECT_EQ(workbook->get_header_value("Content-Disposition"),
            "attachment; filename=\"summary-20140319-20140320.xlsx\"");

  for (const char* bad : {"/api/reports?day=20140319&kind=tired", "/api/reports.xlsx?day=2014-3-19&kind=fatigue",
                          "/api/reports?day=20140319&kind=fatigue&limit=-1",
                          "/api/reports?day=20140319&kind=fatigue&sort=SPEED",
                          "/api/reports.csv?day=20140319&kind=fatigue&sort=ENDTIME&order=up", "/api/summary?day=2014",
                          "/api/summary?from=20140319&to=20140320&per=car"}) {
    auto refused = client.Get(bad);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << bad;
    EXPECT_NE(nlohmann::json::parse(refused->body)["error"].get<std::string>().find("而不是"), std::string::npos)
        << refused->body;
  }
  server.Stop();
}

// The quality kind answers from the day ledger: flagged=1 keeps the vehicles
// the page's tab lists, the summary counts them, a day not computed has none.
TEST(ReportRoutes, QualityAnswersTheLedgersVehicleDays) {
  ServiceFixture fixture;
  fixture.clock.Set(2014, 3, 21, 10);
  fixture.start.AddVehicle("13900000001", "云G12345");
  Ledger ledger(fixture.start.Db());
  ledger.EnsureTables();
  const TrackQuality messy{12, 2, 1, 0, 3, 1};
  const TrackQuality clean{30, 0, 0, 0, 0, 0};
  for (const auto& [simId, quality] : {std::pair{"13900000001", messy}, std::pair{"13900000002", clean}}) {
    for (const ReportRow& row :
         ledger.ReplaceVehicleDayRows(kDayRunCommand, "20140319", simId, 0, "", false, &quality)) {
      ExecuteRow(fixture.start.Db(), row);
    }
  }
  fixture.Started();
  ControlServer server(*fixture.service, ControlServerOptions{"127.0.0.1", 0, ""});
  httplib::Client client("127.0.0.1", server.Start());

  auto all = client.Get("/api/reports?day=20140319&kind=quality&sort=fixes&order=desc");
  ASSERT_TRUE(all);
  ASSERT_EQ(all->status, 200) << all->body;
  EXPECT_EQ(nlohmann::json::parse(all->body)["rows"],
            nlohmann::json::parse(R"([["13900000002","30","0","0","0","0","0"],["13900000001","12","2","1","0","3","1"]])"));
  auto flagged = client.Get("/api/reports.csv?day=20140319&kind=quality&flagged=1&filter=g123");
  ASSERT_TRUE(flagged);
  EXPECT_EQ(flagged->get_header_value("Content-Disposition"), "attachment; filename=\"quality-20140319.csv\"");
  EXPECT_EQ(flagged->body, "\xEF\xBB\xBFSIM卡号,定位点,无位置,非当日,同一时刻,时间倒退,跳点\r\n"
                           "13900000001,12,2,1,0,3,1\r\n");
  auto summary = client.Get("/api/summary?day=20140319");
  ASSERT_TRUE(summary);
  EXPECT_EQ(nlohmann::json::parse(summary->body)["kinds"]["quality"], 1);
  auto notComputed = client.Get("/api/reports?day=20140318&kind=quality");
  ASSERT_TRUE(notComputed);
  EXPECT_EQ(notComputed->status, 200);
  EXPECT_EQ(nlohmann::json::parse(notComputed->body)["total"], 0);
  EXPECT_EQ(client.Get("/api/reports?day=20140319&kind=quality&flagged=yes")->status, 400);
  server.Stop();
}

}  // namespace
}  // namespace cuserver
