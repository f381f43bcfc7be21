// Runs the built cuserver binary in a start directory of its own and checks
// what it prints, what it stores and its exit status.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "run_binary.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

const std::string kDay = "20140319";

class EndToEnd : public ::testing::Test {
 protected:
  // Runs "cuserver ARGS" in the start directory; environment settings are
  // prefixed as NAME=value words.
  Outcome Cuserver(const std::string& args, const std::string& environment = "") {
    return RunCuserver(start_.Path(), args, environment);
  }

  StartDirectory start_;
};

TEST_F(EndToEnd, RunDayWritesEveryRowAndExitsZero) {
  start_.AddVehicle("13900000001");
  start_.AddVehicle("13900000002");
  start_.AddDrive(kDay, "13900000001", 30, 60);
  Outcome run = Cuserver("run-day " + kDay);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "连接数据库成功—进行数据处理！\n13900000001 - 0 - 20140319\n13900000002 - 1 - 20140319\n"
            "20140319数据分析完毕，请查验！\n"
            "20140319: 2 of 2 vehicles computed (1 without fixes), 3 rows written, 0 refused, 0 reports failed, 0 "
            "skipped\n");
  EXPECT_EQ(start_.RunLogBytes(), "20140319计算13900000001报表成功结束\r\r\n\r\n");
  EXPECT_EQ(start_.Rows("select * from CONTACTALARM", {"SIMID", "BEGINTIME", "ENDTIME"}),
            (std::vector<std::vector<std::string>>{
                {"13900000002", "2014-03-19 00:01:00", "2014-03-19 23:59:59"}}));
  EXPECT_EQ(start_.Count("vehicledistance201403"), 2);
  EXPECT_NE(run.err.find("开始装载地图."), std::string::npos);
}

// Output closed early (a pager, head): the rest of the output is dropped, the
// run goes on and writes every row.
TEST_F(EndToEnd, ClosedOutputEndsTheOutputNotTheRun) {
  for (const char* simId : {"13900000001", "13900000002", "13900000003"}) start_.AddVehicle(simId);
  start_.AddDrive(kDay, "13900000001", 30, 60);
  const std::filesystem::path script = start_.Path() / "closed.sh";
  std::ofstream(script) << "cd '" << start_.Path().string() << "' && env -u CUSERVER_CONFIG '" CUSERVER_BINARY
                        << "' run-day " << kDay << " 2>/dev/null | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}\n";
  FILE* pipe = popen(("bash '" + script.string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char status[16] = {};
  ASSERT_NE(std::fgets(status, sizeof status, pipe), nullptr);
  pclose(pipe);
  EXPECT_EQ(std::string(status), "0\n");
  EXPECT_EQ(start_.Count("vehicledistance201403"), 3);
}

TEST_F(EndToEnd, StartDirectoryThatNoLongerExistsIsStatusThreeWithTheMessage) {
  const std::filesystem::path gone = start_.Path() / "gone";
  std::filesystem::create_directory(gone);
  const std::string command = "cd '" + gone.string() + "' && rmdir '" + gone.string() + "' && '" CUSERVER_BINARY
                              "' --help >/dev/null 2>'" + (start_.Path() / "err.txt").string() + "'";
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3);
  EXPECT_NE(ReadFile(start_.Path() / "err.txt").find("读取当前目录失败！"), std::string::npos);
}

TEST_F(EndToEnd, SkippedVehicleCompletesWithStatusOneAndASummary) {
  start_.AddVehicle("13900000001");  // no day table for that day
  Outcome run = Cuserver("run-day 2014-03-19");  // as operators write days; the run keeps the DayKey
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("vehicle skipped: SIMID 13900000001"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("1 vehicles skipped"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("20140319数据分析完毕，请查验！"), std::string::npos);
}

TEST_F(EndToEnd, RefusedDayIsStatusTwoWithTheOperatorMessageAndTouchesNothing) {
  for (const char* day : {"20140230", "20071231", "2014031", "99991231", "2014-3-19", "2014/03/19"}) {
    Outcome run = Cuserver(std::string("run-day ") + day);
    EXPECT_EQ(run.status, 2) << day;
    EXPECT_TRUE(run.err.starts_with(std::string("日期超出指定范围！(") + day +
                                    ")：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 "))
        << run.err;
    EXPECT_EQ(run.out, "") << day;
  }
  EXPECT_FALSE(start_.TableExists("speedalarm201402"));
  EXPECT_EQ(start_.RunLogBytes(), "");
}

TEST_F(EndToEnd, BadArgumentsAreStatusTwoAndHelpIsStatusZero) {
  EXPECT_EQ(Cuserver("run-day").status, 2);
  EXPECT_EQ(Cuserver("").status, 2);
  EXPECT_EQ(Cuserver("launch").status, 2);
  EXPECT_EQ(Cuserver("highway-test 23.4").status, 2);
  EXPECT_EQ(Cuserver("area-name north 103").status, 2);
  Outcome help = Cuserver("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("run-day"), std::string::npos);
  Outcome commandHelp = Cuserver("run-day --help");
  EXPECT_EQ(commandHelp.status, 0);
  EXPECT_NE(commandHelp.out.find("DAYKEY"), std::string::npos);
}

TEST_F(EndToEnd, MissingSettingsFileIsStatusThreeNamingIt) {
  std::filesystem::remove(start_.ConfigFile());
  Outcome run = Cuserver("run-day " + kDay);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("gpsserver.ini"), std::string::npos) << run.err;
}

TEST_F(EndToEnd, RefusedConnectionIsStatusThreeWithTheMessageAndTheReason) {
  start_.WriteSettings(
      "[General]\nBackend=postgresql\nDataSource=host=127.0.0.1 port=1 dbname=fleet connect_timeout=5\n"
      "USERID=report\nPassword=secret\n");
  Outcome run = Cuserver("run-day " + kDay);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("连接数据库失败，请确认你使用了正确的用户名: "), std::string::npos) << run.err;
  EXPECT_GT(run.err.size(), std::string("连接数据库失败，请确认你使用了正确的用户名: \n").size());
  EXPECT_EQ(start_.RunLogBytes(), "");
}

TEST_F(EndToEnd, MapThatCannotBeLoadedIsStatusThreeNamingTheFile) {
  std::filesystem::remove(start_.Path() / "HighWay" / "userspeed.TAB");
  for (const char* command : {"run-day 20140319", "highway-test 23.4 103.35", "area-name 23.4 103.35"}) {
    Outcome run = Cuserver(command);
    EXPECT_EQ(run.status, 3) << command;
    EXPECT_NE(run.err.find("开始装载地图.("), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("userspeed"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(start_.TableExists("speedalarm201403"));
}

TEST_F(EndToEnd, HighwayTestPrintsOneOnTheHighwayAndZeroBesideIt) {
  Outcome fixed = Cuserver("highway-test 23.378333 103.3496");
  EXPECT_EQ(fixed.status, 0) << fixed.err;
  EXPECT_EQ(fixed.out, "1\n");
  EXPECT_EQ(Cuserver("highway-test 23.5 103.35").out, "0\n");
  EXPECT_EQ(Cuserver("highway-test 23.378333 103.35").out, "1\n");
}

TEST_F(EndToEnd, AreaNamePrintsTheAreaOrOutside) {
  Outcome inside = Cuserver("area-name 23.378333 103.35");
  EXPECT_EQ(inside.status, 0) << inside.err;
  EXPECT_EQ(inside.out, "开远收费站\n");
  EXPECT_EQ(Cuserver("area-name 23.5 103.5").out, "区域外面\n");
}

TEST_F(EndToEnd, InitDbCreatesTheServiceTablesAndMayRunAgain) {
  std::filesystem::create_directory(start_.Path() / "fresh");
  std::ofstream(start_.Path() / "fresh.ini") << "[General]\nDataSource=fresh/new.db\n";
  EXPECT_EQ(Cuserver("--config fresh.ini init-db").status, 0);
  Outcome again = Cuserver("init-db --config fresh.ini");
  EXPECT_EQ(again.status, 0) << again.err;
  ReportDatabase db;
  ConnectionSettings settings;
  settings.dataSource = (start_.Path() / "fresh" / "new.db").string();
  db.OpenReportSession(settings);
  for (const char* table : {"vehicleinfo", "motorcade", "CONTACTALARM", "tireddriver", "areaspeed"}) {
    EXPECT_NO_THROW(db.OpenQuery(std::string("select * from ") + table)->Close()) << table;
  }
}

TEST_F(EndToEnd, SettingsFileFromTheEnvironment) {
  std::filesystem::rename(start_.ConfigFile(), start_.Path() / "elsewhere.ini");
  EXPECT_EQ(Cuserver("highway-test 23.378333 103.3496").status, 3);
  Outcome run = Cuserver("highway-test 23.378333 103.3496", "CUSERVER_CONFIG=elsewhere.ini");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "1\n");
}

}  // namespace
}  // namespace cuserver
