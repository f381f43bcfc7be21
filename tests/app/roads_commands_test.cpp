// The line-alarms and import-roads commands: their arguments, and the built
// binary run in a start directory of its own.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/command_import_roads.hpp"
#include "app/command_line_alarms.hpp"
#include "app/errors.hpp"
#include "map/map_writer.hpp"
#include "run_binary.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

using Rows = std::vector<std::vector<std::string>>;

LineAlarmsCommand::Today FixedToday() {
  return [] { return std::chrono::year_month_day{std::chrono::year{2026}, std::chrono::month{12}, std::chrono::day{7}}; };
}

TEST(LineAlarmsArguments, DaysFromJsonAsTextOrNumber) {
  LineAlarmsCommand command(FixedToday());
  command.FromJson(nlohmann::json{{"days", {"2014-03-19", 20140320}}});
  EXPECT_NO_THROW(command.Setup());
  EXPECT_EQ(command.Days(), (std::vector<std::string>{"20140319", "20140320"}));
}

TEST(LineAlarmsArguments, EveryDayIsCheckedAndTheRefusedOneNamed) {
  LineAlarmsCommand command(FixedToday());
  command.FromJson(nlohmann::json{{"days", {"20140319", "20140230"}}});
  try {
    command.Setup();
    FAIL() << "no ArgumentError";
  } catch (const ArgumentError& error) {
    EXPECT_STREQ(error.what(),
                 "日期超出指定范围！(20140230)：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 2026-12-07");
  }
  command.FromJson(nlohmann::json::object());
  EXPECT_THROW(command.Setup(), ArgumentError);
  EXPECT_THROW(command.FromJson(nlohmann::json{{"days", "20140319"}}), ArgumentError);
  EXPECT_THROW(command.FromJson(nlohmann::json{{"days", {true}}}), ArgumentError);
}

TEST(ImportRoadsArguments, TakesAnEmptyObjectOnly) {
  ImportRoadsCommand command;
  EXPECT_NO_THROW(command.FromJson(nlohmann::json::object()));
  EXPECT_NO_THROW(command.FromJson(nlohmann::json()));
  EXPECT_THROW(command.FromJson(nlohmann::json::array()), ArgumentError);
}

// The start directory's highway runs along latitude 23.378333 from longitude 103.30 to 103.40.
class RoadsEndToEnd : public ::testing::Test {
 protected:
  Outcome Cuserver(const std::string& args) { return RunCuserver(start_.Path(), args); }

  void WriteRoads() {
    WriteMapTable(start_.Path() / "HighWay" / "wxxlxl.tab",
                  RoadTable({{"530102", "01", "001", "北京路", "盘龙区", {}},
                             {"", "02", "", "无编码路", "五华区", {}},
                             {"530104", "03", "", "O'Neil's 路", "官渡区", {}}}));
  }

  void AddEarlierRoad() {
    start_.Db().ExecuteStatement("insert into roadlightmapinfo (mainnumber,roadname) values ('1','旧路')");
  }

  StartDirectory start_;
};

TEST_F(RoadsEndToEnd, LineAlarmsOpensAndCompletesRowsAndExitsZero) {
  start_.AddVehicle("13900000001");
  start_.AddFix("20140319", "13900000001", "2014-03-19 08:00:00", 103.50, 23.378333, 60);
  start_.AddFix("20140319", "13900000001", "2014-03-19 08:01:00", 103.35, 23.378333, 60);
  start_.AddFix("20140319", "13900000001", "2014-03-19 08:03:00", 103.50, 23.378333, 60);
  Outcome run = Cuserver("line-alarms 20140319");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "连接数据库成功—进行数据处理！\n13900000001\n13900000001-3\n当天数据分析完毕！请查验\n"
            "20140319: 1 of 1 vehicles scanned, 3 fixes, 1 stretches opened, 1 completed, 0 left open\n");
  EXPECT_EQ(start_.Rows("select * from LINEALARMREPROT", {"SIMID", "BEGINTIME", "ENDTIME", "TOTTIME", "REMARK"}),
            (Rows{{"13900000001", "2014-03-19 08:01:00", "2014-03-19 08:03:00", "120", "001"}}));
}

TEST_F(RoadsEndToEnd, LineAlarmsDayWithoutItsGpsTableFailsAndTheNextDayStillRuns) {
  start_.AddVehicle("13900000001");
  start_.AddFix("20140320", "13900000001", "2014-03-20 08:00:00", 103.35, 23.378333, 60);
  Outcome run = Cuserver("line-alarms 20140319 20140320");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("GPSDATA20140319"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("20140319: 0 of 1 vehicles scanned, 0 fixes, 0 stretches opened, 0 completed, 0 left open "
                         "(run ended early)"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(start_.Count("LINEALARMREPROT"), 1);
}

TEST_F(RoadsEndToEnd, LineAlarmsRefusedDayIsStatusTwoAndRefusedConnectionStatusThree) {
  Outcome refused = Cuserver("line-alarms 20140319 20071231");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(refused.err.starts_with("日期超出指定范围！(20071231)：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 "))
      << refused.err;
  start_.WriteSettings("[General]\r\nBackend=sqlite3\r\nDataSource=no-such-folder/fleet.db\r\n");
  Outcome unreachable = Cuserver("line-alarms 20140319");
  EXPECT_EQ(unreachable.status, 3);
  EXPECT_NE(unreachable.err.find("连接数据库失败，请确认你使用了正确的用户名"), std::string::npos) << unreachable.err;
}

TEST_F(RoadsEndToEnd, ImportRoadsWritesTheRoadsAndEndsWithItsSummary) {
  WriteRoads();
  AddEarlierRoad();
  Outcome run = Cuserver("import-roads");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("3 roads read, 1 skipped (0 without a name, 1 without a main code); roadlightmapinfo: 2 "
                         "added, 0 refused; roadlightmapinfomain: 2 added, 0 refused; roadlightmapinfose: 2 added, 0 "
                         "refused\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(start_.Rows("select * from roadlightmapinfo order by mainnumber", {"mainnumber", "roadname"}),
            (Rows{{"530102", "北京路"}, {"530104", "O'Neil's 路"}}));
  EXPECT_EQ(start_.Count("roadlightmapinfose"), 2);
}

TEST_F(RoadsEndToEnd, ImportRoadsWithoutTheTableFileIsStatusThreeNamingItAndDeletesNothing) {
  AddEarlierRoad();
  Outcome run = Cuserver("import-roads");
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("wxxlxl.tab"), std::string::npos) << run.err;
  EXPECT_EQ(start_.Count("roadlightmapinfo"), 1);
}

TEST_F(RoadsEndToEnd, ImportRoadsWithoutAFieldIsStatusThreeNamingFieldAndFile) {
  AddEarlierRoad();
  MapTable table = RoadTable({{"530102", "01", "001", "北京路", "盘龙区", {}}});
  table.fields[1] = "副码";
  WriteMapTable(start_.Path() / "HighWay" / "wxxlxl.tab", table);
  Outcome run = Cuserver("import-roads");
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("has no field '副编码'"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("wxxlxl.tab"), std::string::npos) << run.err;
  EXPECT_EQ(start_.Count("roadlightmapinfo"), 1);
}

TEST_F(RoadsEndToEnd, ImportRoadsWithoutAnAppendedTableWritesTheOthersAndIsStatusOne) {
  WriteRoads();
  AddEarlierRoad();
  start_.Db().ExecuteStatement("drop table roadlightmapinfomain");
  Outcome run = Cuserver("import-roads");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("table roadlightmapinfomain is missing"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("roadlightmapinfomain: table missing, nothing added"), std::string::npos) << run.out;
  EXPECT_EQ(start_.Count("roadlightmapinfo"), 2);
  EXPECT_EQ(start_.Count("roadlightmapinfose"), 2);
}

TEST_F(RoadsEndToEnd, MistypedSqliteFileIsARefusedConnectionNamingItsPathAndCreatesNothing) {
  WriteRoads();
  start_.WriteSettings("[General]\r\nBackend=sqlite3\r\nDataSource=fleet.bd\r\n");
  const std::filesystem::path tried = start_.Path() / "fleet.bd";
  for (const char* command : {"import-roads", "run-day 20140319", "line-alarms 20140319", "days"}) {
    SCOPED_TRACE(command);
    Outcome run = Cuserver(command);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("连接数据库失败，请确认你使用了正确的用户名"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(tried.string() + " does not exist"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(tried));
  }
}

// Root writes whatever the permissions say: as root the binary runs as
// nobody, for whom they hold.
TEST_F(RoadsEndToEnd, UnwritableDatabaseFileOrFolderIsARefusedConnection) {
  namespace fs = std::filesystem;
  WriteRoads();
  const std::string asOther = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups --" : "";
  fs::permissions(start_.Path(), fs::perms::all);  // for the lock file
  fs::create_directory(start_.Path() / "db");
  fs::copy_file(start_.Path() / "fleet.db", start_.Path() / "db" / "fleet.db");
  start_.WriteSettings("[General]\r\nBackend=sqlite3\r\nDataSource=db/fleet.db\r\n");
  const struct {
    fs::perms folder;
    fs::perms file;
    fs::path unwritable;
    std::string message;
  } cases[] = {
      {fs::perms::all, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
       start_.Path() / "db" / "fleet.db", "file " + (start_.Path() / "db" / "fleet.db").string() + " cannot be written"},
      {fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
           fs::perms::others_exec,
       fs::perms::all, start_.Path() / "db", "folder " + (start_.Path() / "db").string() + " of SQLite"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    fs::permissions(start_.Path() / "db", c.folder);
    fs::permissions(start_.Path() / "db" / "fleet.db", c.file);
    if (RunCuserver(start_.Path(), "--help", asOther).status != 0) GTEST_SKIP() << "cannot run as nobody";
    const std::string probe = asOther + " test -w '" + c.unwritable.string() + "'";
    if (std::system(probe.c_str()) == 0) GTEST_SKIP() << c.unwritable << " stays writable for the binary";
    Outcome run = RunCuserver(start_.Path(), "import-roads", asOther);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("连接数据库失败，请确认你使用了正确的用户名"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace cuserver
