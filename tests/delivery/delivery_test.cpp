// Reports delivered by e-mail to a real SMTP server: the command an operator
// tries the settings with, and the service's schedule with its retries.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "mail_box.hpp"
#include "service_fixture.hpp"

namespace cuserver {
namespace {

std::string Settings(int port, const std::string& delivery) {
  return fmt::format(
      "[General]\nBackend=sqlite3\nDataSource=fleet.db\n[Delivery]\nSmtpUrl=smtp://127.0.0.1:{}\n"
      "From=reports@example.com\nTo=ops@example.com, boss@example.com\nFolder=delivered\n{}",
      port, delivery);
}

// What the operator opens: the day's workbook attached under the page's
// captions, durations as numbers; a month holds every day's rows; a server
// that refuses is named, with the failure's exit status.
TEST(DeliverCommand, SendsTheDaysWorkbookAndNamesARefusingServer) {
  if (!test::HaveMailTools()) GTEST_SKIP() << "python3-aiosmtpd or python3-openpyxl is missing";
  StartDirectory start;
  start.AddVehicle("13900000001", "云A12345");
  for (const char* day : {"19", "20"}) {
    start.Db().ExecuteStatement(fmt::format(
        "insert into tireddriver (SIMID,begintime,ENDTIME,addtime) values ('13900000001','2014-03-{0} 08:00:00',"
        "'2014-03-{0} 12:30:00','16200')",
        day));
  }
  const int port = test::FreePort();
  test::MailBox mailBox(port, start.Path());
  start.WriteSettings(Settings(port, "Reports=fatigue, lostcontact, summary\n"));

  const Outcome day = RunCuserver(start.Path(), "deliver 2014-03-19");
  ASSERT_EQ(day.status, 0) << day.err;
  EXPECT_TRUE(std::filesystem::exists(start.Path() / "delivered" / "cuserver-20140319.xlsx")) << day.out;
  const nlohmann::json messages = mailBox.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const nlohmann::json& mail = messages[0];
  EXPECT_EQ(mail["subject"], "CUServer 日报表 2014-03-19");
  EXPECT_EQ(mail["rcptTo"], "ops@example.com, boss@example.com");
  ASSERT_EQ(mail["files"].size(), 1u);
  const nlohmann::json& file = mail["files"][0];
  EXPECT_EQ(file["name"], "cuserver-20140319.xlsx");
  EXPECT_EQ(file["type"], "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
  EXPECT_EQ(file["sheets"].size(), 3u) << file["sheets"].dump();
  const nlohmann::json& summary = file["sheets"]["汇总"];
  ASSERT_EQ(summary.size(), 2u) << summary.dump();
  EXPECT_EQ(summary[0][11][1], "疲劳驾驶（次）");
  EXPECT_EQ(summary[1][11], nlohmann::json::parse(R"(["int","1"])"));
  const nlohmann::json& fatigue = file["sheets"]["疲劳驾驶"];
  ASSERT_EQ(fatigue.size(), 2u) << fatigue.dump();
  EXPECT_EQ(fatigue[0][5][1], "连续驾驶（秒）");
  EXPECT_EQ(fatigue[1][1], nlohmann::json::parse(R"(["str","云A12345"])"));
  EXPECT_EQ(fatigue[1][5], nlohmann::json::parse(R"(["int","16200"])"));

  const Outcome month = RunCuserver(start.Path(), "deliver --month 201403 --dry-run");
  ASSERT_EQ(month.status, 0) << month.err;
  EXPECT_EQ(mailBox.Messages().size(), 1u);  // written, not sent
  const std::string read = "cd '" + start.Path().string() +
                           "' && /usr/bin/python3 -c \"import openpyxl; s = openpyxl.load_workbook("
                           "'delivered/cuserver-201403.xlsx')['疲劳驾驶']; print([c.value for c in s['D']][2:])\" "
                           "> month.txt";
  ASSERT_EQ(std::system(read.c_str()), 0);
  EXPECT_EQ(ReadFile(start.Path() / "month.txt"),
            "[datetime.datetime(2014, 3, 19, 8, 0), datetime.datetime(2014, 3, 20, 8, 0)]\n");

  const int refusing = test::FreePort();
  start.WriteSettings(Settings(refusing, ""));
  const Outcome refused = RunCuserver(start.Path(), "deliver 20140319");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(fmt::format("smtp://127.0.0.1:{}", refusing)), std::string::npos) << refused.err;
}

// A send the server refuses is tried again once the pause after it has
// passed on the service's clock, shown on the page and counted, and a
// period sent is never sent again.
TEST(ServiceDelivery, AFailedSendIsRetriedAfterThePauseThenNeverSentAgain) {
  if (!test::HaveMailTools()) GTEST_SKIP() << "python3-aiosmtpd or python3-openpyxl is missing";
  ServiceFixture fixture;
  const int port = test::FreePort();
  fixture.start.WriteSettings(Settings(port, "Reports=mileage\nDaily=true\n"));
  fixture.start.AddVehicle("13900000001");
  fixture.start.AddDrive("20140319", "13900000001", 30, 60);
  fixture.clock.Set(2014, 3, 19, 10);
  Service& service = fixture.Started();
  service.Queue().WaitIdle();
  const auto tickAt = [&](int hour, int minute) {
    fixture.clock.Set(2014, 3, 20, hour, minute);
    service.Tick();
    service.Queue().WaitIdle();
    service.Deliveries().WaitIdle();
    return service.Status()["delivery"];
  };

  nlohmann::json delivery = tickAt(3, 0);  // the night run computes the 19th, then sends it
  ASSERT_FALSE(delivery.is_null());
  EXPECT_EQ(delivery["period"], "20140319");
  EXPECT_EQ(delivery["outcome"], "failed");
  EXPECT_EQ(delivery["attempts"], 1);
  EXPECT_NE(delivery["detail"].get<std::string>().find(fmt::format("127.0.0.1:{}", port)), std::string::npos);
  EXPECT_EQ(tickAt(3, 4)["attempts"], 1);  // the pause has not passed

  test::MailBox mailBox(port, fixture.start.Path());
  delivery = tickAt(3, 5);
  EXPECT_EQ(delivery["outcome"], "sent") << delivery["detail"];
  EXPECT_EQ(delivery["attempts"], 2);
  tickAt(4, 0);
  EXPECT_EQ(mailBox.Messages().size(), 1u);
  EXPECT_EQ(service.Runs().deliveries, (std::map<std::string, long long>{{"failed", 1}, {"sent", 1}}));
  EXPECT_EQ(fixture.start.Rows("select period, attempts, outcome from cuserver_deliveries",
                               {"period", "attempts", "outcome"}),
            (std::vector<std::vector<std::string>>{{"20140319", "2", "sent"}}));
}

}  // namespace
}  // namespace cuserver
