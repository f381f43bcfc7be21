#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "app/errors.hpp"
#include "run/day_key.hpp"
#include "run/day_run.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

std::vector<std::string> FinishedLabelsOldestFirst(Service& service) {
  std::vector<std::string> labels;
  for (const auto& record : service.Queue().Finished()) labels.insert(labels.begin(), record.label);
  return labels;
}

bool AnyMessage(const ServiceLog& log, const std::string& text) {
  const auto messages = log.Recent();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const ServiceMessage& m) { return m.text.find(text) != std::string::npos; });
}

TEST(ServiceStartUp, EnsuresTheTablesOfJanuary2014AndLoadsTheSpeedLimits) {
  ServiceFixture fixture;
  fixture.start.AddVehicle("13900000001");
  Service& service = fixture.Started();
  service.Queue().WaitIdle();
  for (const char* table :
       {"AlarmSMS201401", "DownloadSMS201401", "SpeedAlarm201401", "VehicleDistance201401", "Parkinglog201401"}) {
    EXPECT_TRUE(fixture.start.TableExists(table)) << table;
  }
  EXPECT_TRUE(service.Status()["speedLimitsLoaded"].get<bool>());
  EXPECT_EQ(service.Caption(), "连接数据库成功—进行数据处理！");
}

TEST(ServiceStartUp, RefusedConnectionIsRetriedWithoutBlockingThenTold) {
  ServiceFixture fixture(3, std::chrono::milliseconds{200});
  fixture.start.WriteSettings(
      "[General]\nBackend=postgresql\nDataSource=host=127.0.0.1 port=1 connect_timeout=1\nUSERID=u\nPassword=p\n");
  Service& service = fixture.Started();
  // The status answers while the attempts go on.
  while (!service.Queue().Current()) std::this_thread::yield();
  const auto status = service.Status();
  ASSERT_FALSE(status["current"].is_null());
  EXPECT_EQ(status["current"]["label"], "启动：连接数据库");
  service.Queue().WaitIdle();
  EXPECT_TRUE(AnyMessage(fixture.log, "第 3 次，共 3 次"));
  EXPECT_TRUE(AnyMessage(fixture.log, "请检查数据库是否已经正常启动!"));
  EXPECT_EQ(service.Queue().Finished().front().result->outcome, JobOutcome::CouldNotRun);
  EXPECT_FALSE(service.Status()["speedLimitsLoaded"].get<bool>());
  // A run the database cannot record is not accepted.
  EXPECT_THROW(service.Submit("run-day", nlohmann::json{{"day", "20140319"}}), ServiceUnavailableError);
}

TEST(ServiceStartUp, GeosetThatCannotBeLoadedNamesTheFile) {
  ServiceFixture fixture;
  std::filesystem::remove(fixture.start.Path() / "HighWay" / "HIGHWAY.TAB");
  try {
    fixture.Started();
    FAIL() << "started without its map";
  } catch (const CannotRunError& error) {
    EXPECT_NE(std::string(error.what()).find("HIGHWAY.TAB"), std::string::npos) << error.what();
  }
}

// A missing SQLite file is no passing fault: `serve` ends at once (status 3)
// naming it, rather than retrying for minutes while it shows 正在运行.
TEST(ServiceStartUp, MissingSqliteFileStopsTheStartNamingIt) {
  ServiceFixture fixture;
  fixture.start.WriteSettings("[General]\nDataSource=missing.db\n");
  try {
    fixture.Started();
    FAIL() << "started without its database";
  } catch (const SettingsError& error) {
    EXPECT_NE(std::string(error.what()).find((fixture.start.Path() / "missing.db").string()), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(std::filesystem::exists(fixture.start.Path() / "missing.db"));
}

TEST(ServiceRuns, OperatorDayRunsInTurnAndEndsWithTheEndCaption) {
  ServiceFixture fixture;
  fixture.start.AddVehicle("13900000001");
  fixture.start.AddDrive("20140319", "13900000001", 30, 60);
  Service& service = fixture.Started();
  service.Submit("run-day", nlohmann::json{{"day", "20140319"}});
  service.Queue().WaitIdle();
  const auto last = service.Queue().Finished().front();
  EXPECT_EQ(last.label, "计算一天 20140319");
  EXPECT_EQ(last.result->outcome, JobOutcome::Succeeded) << last.result->detail;
  EXPECT_EQ(service.Caption(), EndCaption("20140319"));
  const auto runLog = service.Status()["runLog"];
  ASSERT_FALSE(runLog.empty());
  EXPECT_EQ(runLog.back(), "20140319计算13900000001报表成功结束");
}

TEST(ServiceRuns, RefusedRequestsAnswerWithTheOperatorMessageAndRunNothing) {
  ServiceFixture fixture;
  Service& service = fixture.Started();
  for (const auto& arguments : {nlohmann::json{{"day", "20200000"}}, nlohmann::json{{"day", ""}}}) {
    try {
      service.Submit("run-day", arguments);
      FAIL() << arguments.dump();
    } catch (const ArgumentError& error) {
      EXPECT_TRUE(std::string_view(error.what()).starts_with(kDayOutOfRangeMessage)) << error.what();
    }
  }
  EXPECT_THROW(service.Submit("run-days", nlohmann::json{{"from", "20090102"}, {"to", "20081230"}}), ArgumentError);
  EXPECT_THROW(service.Submit("serve", nlohmann::json::object()), ArgumentError);
  EXPECT_THROW(service.Submit("simulate", nlohmann::json::object()), ArgumentError);
  service.Queue().WaitIdle();
  EXPECT_EQ(FinishedLabelsOldestFirst(service), std::vector<std::string>{"启动：连接数据库"});
  EXPECT_TRUE(AnyMessage(fixture.log, std::string(kDayOutOfRangeMessage)));
}

TEST(ServiceRuns, RequestedRunsAndTheEveningUpkeepQueueInOrderNothingDropped) {
  ServiceFixture fixture;
  fixture.start.AddVehicle("13900000001");
  fixture.start.AddDrive("20140319", "13900000001", 30, 60);
  Service& service = fixture.Started();
  // All are added while the start-up still waits on its one-millisecond pause or runs.
  service.Submit("run-day", nlohmann::json{{"day", "20140319"}});
  service.Submit("run-days", nlohmann::json{{"from", "20140318"}, {"to", "20140319"}});
  fixture.clock.Set(2014, 3, 31, 23, 0);
  service.Tick();
  service.Tick();  // the same upkeep while the first still waits is not queued twice
  service.Submit("run-day", nlohmann::json{{"day", "20140318"}});
  service.Queue().WaitIdle();
  const auto labels = FinishedLabelsOldestFirst(service);
  ASSERT_GE(labels.size(), 5u);
  const std::vector<std::string> tail(labels.end() - 4, labels.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"计算一天 20140319", "计算连续几天 20140318 到 20140319",
                                            "建立本月报表 201403", "计算一天 20140318"}));
  for (const auto& record : service.Queue().Finished()) {
    EXPECT_NE(record.result->outcome, JobOutcome::CouldNotRun) << record.label << ": " << record.result->detail;
  }
  for (const char* table : {"SpeedAlarm201403", "DownloadSMS201403", "VehicleDistance201403", "ParkingLog201403",
                            "AlarmSMS201403"}) {
    EXPECT_TRUE(fixture.start.TableExists(table)) << table;
  }
  EXPECT_EQ(service.Status()["pendingDay"], "20140331");
}

}  // namespace
}  // namespace cuserver
