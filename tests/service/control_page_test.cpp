#include <gtest/gtest.h>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "app/errors.hpp"
#include "run/day_key.hpp"
#include "run/day_run.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

// The service and its control page on a free loopback port.
struct PageFixture : ServiceFixture {
  explicit PageFixture(std::string token = {}, const std::string& settings = {}) {
    if (!settings.empty()) start.WriteSettings(settings);
    Started();
    server = std::make_unique<ControlServer>(*service, ControlServerOptions{"127.0.0.1", 0, std::move(token)});
    port = server->Start();
    service->Queue().WaitIdle();
  }
  httplib::Client Client() const { return httplib::Client("127.0.0.1", port); }
  httplib::Result PostJson(const std::string& path, const std::string& body, httplib::Headers headers = {}) {
    return Client().Post(path.c_str(), headers, body, "application/json");
  }

  std::unique_ptr<ControlServer> server;
  int port = 0;
};

nlohmann::json Body(const httplib::Result& result) { return nlohmann::json::parse(result->body); }

TEST(ControlPage, ServesThePageWithTheWindowsFieldsAndButtons) {
  PageFixture page;
  auto result = page.Client().Get("/");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=utf-8");
  for (const char* text : {"id=\"day\"", "格式是：2014-03-19 或 20140319", "计算一天", "id=\"from\"", "id=\"to\"",
                           "计算连续几天", "添加道路信息", "<div id=\"map\">", "L.map(", "initialize:function("}) {
    EXPECT_NE(result->body.find(text), std::string::npos) << text;
  }
  auto status = page.Client().Get("/api/status");
  ASSERT_TRUE(status);
  EXPECT_NE(Body(status)["about"].get<std::string>().find("3.0"), std::string::npos);
}

// The page shows the next night run from the service's clock, not the
// browser's: before 02:00 it is tonight's, from 02:00 on tomorrow's.
TEST(ControlPage, StatusNamesTheNextNightRunAndTheDayItComputes) {
  PageFixture page;
  struct Case {
    int year;
    unsigned month, day;
    int hour, minute;
    const char* at;
    const char* computes;
  };
  for (const Case& c : {Case{2014, 3, 1, 1, 59, "2014-03-01 02:00:00", "20140228"},
                        Case{2014, 3, 1, 2, 0, "2014-03-02 02:00:00", "20140301"},
                        Case{2014, 12, 31, 23, 55, "2015-01-01 02:00:00", "20141231"}}) {
    page.clock.Set(c.year, c.month, c.day, c.hour, c.minute);
    const auto status = Body(page.Client().Get("/api/status"));
    EXPECT_EQ(status["nextRun"], c.at) << c.hour << ":" << c.minute;
    EXPECT_EQ(status["nextRunDay"], c.computes) << c.at;
  }
}

TEST(ControlPage, LayersAreTheGeosetsFeaturesAsGeoJson) {
  PageFixture page;
  auto result = page.Client().Get("/api/layers");
  ASSERT_TRUE(result);
  const auto layers = Body(result);
  ASSERT_EQ(layers["type"], "FeatureCollection");
  ASSERT_EQ(layers["features"].size(), 2u);
  const auto& highway = layers["features"][0];
  EXPECT_EQ(highway["properties"]["layer"], "HIGHWAY");
  EXPECT_EQ(highway["properties"]["name"], "G80广昆高速");
  EXPECT_EQ(highway["geometry"]["type"], "MultiLineString");
  EXPECT_DOUBLE_EQ(highway["geometry"]["coordinates"][0][0][0].get<double>(), 103.3);
  EXPECT_DOUBLE_EQ(highway["geometry"]["coordinates"][0][0][1].get<double>(), 23.378333);
  const auto& area = layers["features"][1];
  EXPECT_EQ(area["properties"]["layer"], "userspeed");
  EXPECT_EQ(area["properties"]["name"], "开远收费站");
  EXPECT_EQ(area["geometry"]["type"], "MultiPolygon");
}

TEST(ControlPage, ADayRunThroughTheApiEndsWithTheEndCaption) {
  PageFixture page;
  page.start.AddVehicle("13900000001");
  page.start.AddDrive("20140319", "13900000001", 30, 60);
  auto accepted = page.PostJson("/api/run-day", R"({"day":"2014-03-19"})");  // as operators write days
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->status, 202);
  page.service->Queue().WaitIdle();
  const auto status = Body(page.Client().Get("/api/status"));
  EXPECT_EQ(status["caption"], EndCaption("20140319"));
  EXPECT_EQ(status["lastRuns"][0]["id"], Body(accepted)["id"]);
  EXPECT_EQ(status["lastRuns"][0]["outcome"], "succeeded");
}

TEST(ControlPage, RefusedCommandsAnswer400WithTheOperatorMessage) {
  PageFixture page;
  for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
           {"/api/run-day", R"({"day":"20200230"})"},
           {"/api/run-day", R"({})"},
           {"/api/run-days", R"({"from":"20090102","to":"20081230"})"},
           {"/api/run-days", R"({"from":"20080130"})"}}) {
    auto result = page.PostJson(path, body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 400) << path << body;
    EXPECT_TRUE(Body(result)["error"].get<std::string>().starts_with(kDayOutOfRangeMessage)) << path << body;
  }
  // What was refused and why, so the operator can write it anew.
  EXPECT_TRUE(Body(page.PostJson("/api/run-day", R"({"day":"2020-02-30"})"))["error"].get<std::string>().starts_with(
      "日期超出指定范围！(2020-02-30)：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 "));
  EXPECT_EQ(Body(page.PostJson("/api/run-days", R"({"from":"2009-01-02","to":"20081230"})"))["error"],
            "日期超出指定范围！起始日 2009-01-02 晚于结束日 2008-12-30");
  // The operator reads every refusal in Chinese.
  auto notJson = page.PostJson("/api/run-day", "day=20140319");
  EXPECT_EQ(notJson->status, 400);
  EXPECT_EQ(Body(notJson)["error"], "请求正文不是 JSON");
  auto notObject = page.PostJson("/api/run-day", "[1]");
  EXPECT_EQ(notObject->status, 400);
  EXPECT_EQ(Body(notObject)["error"], "参数应为一个 JSON 对象");
  page.service->Queue().WaitIdle();
  EXPECT_EQ(page.service->Queue().Finished().size(), 1u) << "only the start-up ran";
}

TEST(ControlPage, ARunTheDatabaseCannotRecordIsRefusedWith503) {
  PageFixture page({}, "[General]\nBackend=postgresql\nDataSource=host=127.0.0.1 port=1 connect_timeout=1\n"
                       "USERID=u\nPassword=p\n");
  auto refused = page.PostJson("/api/run-day", R"({"day":"20140319"})");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  EXPECT_NE(Body(refused)["error"].get<std::string>().find("无法记录"), std::string::npos) << refused->body;
  EXPECT_EQ(page.service->Queue().Waiting().size(), 0u);
}

TEST(ControlPage, ChangesOnlyByPostWithAJsonBody) {
  PageFixture page;
  // Only application/json is JSON, in any case and with parameters; the day
  // sent does not exist, so a body read as JSON answers 400 and runs nothing.
  for (const auto& [type, status] : std::vector<std::pair<std::string, int>>{
           {"application/x-www-form-urlencoded", 415},
           {"application/jsonx", 415},
           {"application/json-patch+json", 415},
           {"application/json; charset=utf-8", 400},
           {"Application/JSON", 400}}) {
    EXPECT_EQ(page.Client().Post("/api/run-day", R"({"day":"20200230"})", type)->status, status) << type;
  }
  auto get = page.Client().Get("/api/run-day?day=20140319");
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");
  auto remove = page.Client().Delete("/api/import-roads");
  EXPECT_EQ(remove->status, 405);
  auto postStatus = page.PostJson("/api/status", "{}");
  EXPECT_EQ(postStatus->status, 405);
  page.service->Queue().WaitIdle();
  EXPECT_EQ(page.service->Queue().Finished().size(), 1u);
}

// DNS rebinding: a name that only begins like a loopback address, or another
// port, is another site.
TEST(ControlPage, WithoutATokenOnlyLoopbackHostNamesAreServed) {
  PageFixture page;
  const std::string port = std::to_string(page.port);
  for (const std::string& host : std::vector<std::string>{"attacker.example:" + port, "127.attacker.example",
                                                          "127.0.0.1.nip.io:" + port, "[::1].evil", "localhost:1",
                                                          "127.0.0.2"}) {
    auto foreign = page.Client().Get("/api/status", {{"Host", host}});
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 403) << host;
  }
  for (const std::string& host : std::vector<std::string>{"localhost:" + port, "127.0.0.1", "[::1]:" + port}) {
    EXPECT_EQ(page.Client().Get("/api/status", {{"Host", host}})->status, 200) << host;
  }
  httplib::Headers fromElsewhere = {{"Origin", "http://attacker.example"}};
  auto refused = page.Client().Post("/api/run-day", fromElsewhere, R"({"day":"20140319"})", "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);
  httplib::Headers fromItself = {{"Origin", "http://127.0.0.1:" + port}};
  EXPECT_EQ(page.Client().Post("/api/run-day", fromItself, R"({"day":"20140319"})", "application/json")->status, 202);
}

TEST(ControlPage, ASecondServiceCannotListenOnTheSamePort) {
  PageFixture page;
  ControlServer second(*page.service, ControlServerOptions{"127.0.0.1", page.port, ""});
  try {
    second.Start();
    FAIL() << "two services listen on port " << page.port;
  } catch (const CannotRunError& error) {
    EXPECT_NE(std::string(error.what()).find("地址已被占用"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find(std::to_string(page.port)), std::string::npos) << error.what();
  }
}

TEST(ControlPage, WithATokenRequestsWithoutItAreRefused) {
  PageFixture page("s3cret");
  EXPECT_EQ(page.Client().Get("/api/status")->status, 401);
  EXPECT_EQ(page.Client().Get("/api/status", {{"Authorization", "Bearer wrong"}})->status, 401);
  auto unauthorised = page.PostJson("/api/run-day", R"({"day":"20140319"})");
  EXPECT_EQ(unauthorised->status, 401);
  EXPECT_EQ(unauthorised->get_header_value("WWW-Authenticate"), "Bearer");
  EXPECT_EQ(page.Client().Get("/api/status", {{"Authorization", "Bearer s3cret"}})->status, 200);
  EXPECT_EQ(page.Client().Get("/api/layers", {{"Authorization", "Bearer s3cret"}})->status, 200);
  page.service->Queue().WaitIdle();
  EXPECT_EQ(page.service->Queue().Finished().size(), 1u) << "the refused request ran nothing";
  EXPECT_EQ(page.Client().Get("/")->status, 200) << "the page itself holds nothing secret";
}

}  // namespace
}  // namespace cuserver
