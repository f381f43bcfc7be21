// The report command through the built binary: the files an operator takes
// away, and the arguments it refuses.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_binary.hpp"
#include "start_directory.hpp"

namespace cuserver {
namespace {

class ReportCommandTest : public ::testing::Test {
 protected:
  ReportCommandTest() {
    start_.AddVehicle("13900000001", "云A,\"1\"");
    start_.Db().ExecuteStatement(
        "insert into CONTACTALARM (SIMID,BEGINTIME,ENDTIME) values ('13900000001','2014-03-19 10:00:00','2014-03-19 "
        "12:00:00')");
    start_.Db().ExecuteStatement(
        "insert into CONTACTALARM (SIMID,BEGINTIME,ENDTIME) values ('13900000002','2014-03-19 11:00:00','2014-03-19 "
        "13:00:00')");
  }
  StartDirectory start_;
};

TEST_F(ReportCommandTest, CsvHasTheByteOrderMarkAndQuotesCommasAndQuotes) {
  const Outcome run = RunCuserver(start_.Path(), "report 20140319 --kind lostcontact --format csv");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "\xEF\xBB\xBFSIM卡号,车牌,车队,开始时间,结束时间\r\n"
            "13900000001,\"云A,\"\"1\"\"\",开远车队,2014-03-19 10:00:00,2014-03-19 12:00:00\r\n"
            "13900000002,,,2014-03-19 11:00:00,2014-03-19 13:00:00\r\n");

  const Outcome json = RunCuserver(start_.Path(), "report 2014-03-19 --kind lostcontact --vehicle 13900000002 --format json");
  ASSERT_EQ(json.status, 0) << json.err;
  const auto parsed = nlohmann::json::parse(json.out);
  EXPECT_EQ(parsed["day"], "20140319");
  EXPECT_EQ(parsed["total"], 1);
  EXPECT_EQ(parsed["rows"][0][3], "2014-03-19 11:00:00");
  EXPECT_EQ(parsed["tableMissing"], false);
}

// A month whose table was never made is told as such, not as a day without rows.
TEST_F(ReportCommandTest, AMissingTableIsToldNotShownAsNoRows) {
  const Outcome table = RunCuserver(start_.Path(), "report 20140319 --kind speeding");
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out, "speeding 20140319 (speedalarm201403): 没有这张表\n");
  const Outcome json = RunCuserver(start_.Path(), "report 20140319 --kind speeding --format json");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out)["tableMissing"], true);
}

// What a spreadsheet needs to add up and filter the rows: numbers, times and
// durations as such under the page's captions, a frozen header, a filter;
// odd stored values kept as text.
TEST_F(ReportCommandTest, XlsxHoldsATypedSheetPerKindUnderThePagesCaptions) {
  if (std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3-openpyxl is missing";
  start_.Db().ExecuteStatement(
      "insert into tireddriver (SIMID,begintime,ENDTIME,addtime) values ('13900000001','2014-03-19 08:00:00',"
      "'2014-03-19 12:30:00','16200')");
  start_.Db().ExecuteStatement(
      "insert into tireddriver (SIMID,begintime,ENDTIME,addtime) values ('13900000002','2014-03-19 09:00:00',"
      "'2014-03-19 25:00:00','about 4h')");
  const Outcome run = RunCuserver(start_.Path(), "report 20140319 --format xlsx --output day.xlsx");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string script =
      "import openpyxl, json; b = openpyxl.load_workbook('day.xlsx'); "
      "cell = lambda c: [type(c.value).__name__, str(c.value), c.number_format]; "
      "print(json.dumps({'names': b.sheetnames, 'sheets': {s.title: {'title': s['A1'].value, 'freeze': s.freeze_panes, "
      "'filter': s.auto_filter.ref, 'rows': [[cell(c) for c in r] for r in s.iter_rows(min_row=2)]} "
      "for s in b.worksheets}}))";
  const std::string command = "cd '" + start_.Path().string() + "' && /usr/bin/python3 -c \"" + script + "\" > sheets.json";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto book = nlohmann::json::parse(ReadFile(start_.Path() / "sheets.json"));
  EXPECT_EQ(book["names"], nlohmann::json::parse(R"(["里程","超速","停车","疲劳驾驶","失去联系","路段报警","数据质量"])"));
  const auto& sheets = book["sheets"];

  const auto& fatigue = sheets["疲劳驾驶"];
  EXPECT_TRUE(fatigue["title"].get<std::string>().starts_with("疲劳驾驶 2014-03-19  生成于 ")) << fatigue["title"];
  EXPECT_EQ(fatigue["freeze"], "A3");
  EXPECT_EQ(fatigue["filter"], "A2:G4");
  const auto& rows = fatigue["rows"];
  ASSERT_EQ(rows.size(), 3u);
  std::vector<std::string> header;
  for (const auto& c : rows[0]) header.push_back(c[1]);
  EXPECT_EQ(header, (std::vector<std::string>{"SIM卡号", "车牌", "车队", "开始时间", "结束时间", "连续驾驶（秒）",
                                              "连续驾驶（时:分）"}));
  // The SIM card number stays text: it names, it does not count.
  EXPECT_EQ(rows[1][0], nlohmann::json::parse(R"(["str","13900000001","General"])"));
  EXPECT_EQ(rows[1][3], nlohmann::json::parse(R"(["datetime","2014-03-19 08:00:00","yyyy-mm-dd hh:mm:ss"])"));
  EXPECT_EQ(rows[1][5], nlohmann::json::parse(R"(["int","16200","General"])"));
  EXPECT_EQ(rows[1][6], nlohmann::json::parse(R"(["timedelta","4:30:00","[h]:mm"])"));
  EXPECT_EQ(rows[2][4], nlohmann::json::parse(R"(["str","2014-03-19 25:00:00","General"])"));
  EXPECT_EQ(rows[2][5], nlohmann::json::parse(R"(["str","about 4h","General"])"));
  EXPECT_EQ(rows[2][6][0], "NoneType");

  EXPECT_EQ(sheets["超速"]["rows"][1][0][1], "没有这张表（speedalarm201403）");
}

// A workbook's bytes would garble the operator's terminal.
TEST_F(ReportCommandTest, XlsxToATerminalIsRefusedWithStatus2) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) is missing";
  const std::string command = "cd '" + start_.Path().string() +
                              "' && env -u CUSERVER_CONFIG script -qec \"'" CUSERVER_BINARY
                              "' report 20140319 --format xlsx\" /dev/null > terminal.txt 2>&1 </dev/null";
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
  EXPECT_NE(ReadFile(start_.Path() / "terminal.txt").find("--output"), std::string::npos);
}

// A day run's track quality read back: the messy vehicle's row as csv, and
// --flagged leaving out the vehicle whose tracker sent nothing amiss.
TEST_F(ReportCommandTest, QualityRowsAreTheDayRunsCountsPerVehicle) {
  start_.AddVehicle("13900000003");
  start_.AddDrive("20140319", "13900000003", 6, 60);
  const std::string day = "20140319";
  start_.AddFix(day, "13900000001", "2014-03-19 10:00:00", 103.35, 23.40, 40);
  start_.AddFix(day, "13900000001", "2014-03-19 10:00:00", 103.35, 23.40, 40);  // same time
  start_.AddFix(day, "13900000001", "2014-03-19 10:01:00", 0, 0, 40);           // no position
  start_.AddFix(day, "13900000001", "2014-03-18 23:00:00", 103.35, 23.40, 40);  // another day
  start_.AddFix(day, "13900000001", "2014-03-19 10:02:00", 104.35, 23.40, 40);  // 100 km in 2 minutes
  const Outcome run = RunCuserver(start_.Path(), "run-day 20140319");
  ASSERT_EQ(run.status, 0) << run.err;

  const Outcome csv = RunCuserver(start_.Path(), "report 20140319 --kind quality --format csv --filter 云a");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "\xEF\xBB\xBFSIM卡号,定位点,无位置,非当日,同一时刻,时间倒退,跳点\r\n"
            "13900000001,5,1,1,1,0,1\r\n");

  const Outcome json = RunCuserver(start_.Path(), "report 20140319 --kind quality --format json --sort fixes --descending");
  ASSERT_EQ(json.status, 0) << json.err;
  const auto all = nlohmann::json::parse(json.out);
  EXPECT_EQ(all["kind"], "quality");
  EXPECT_EQ(all["rows"], nlohmann::json::parse(R"([["13900000003","6","0","0","0","0","0"],)"
                                               R"(["13900000001","5","1","1","1","0","1"]])"));
  const Outcome flagged = RunCuserver(start_.Path(), "report 20140319 --kind quality --format json --flagged");
  ASSERT_EQ(flagged.status, 0) << flagged.err;
  EXPECT_EQ(nlohmann::json::parse(flagged.out)["total"], 1);
}

TEST_F(ReportCommandTest, RefusesABadDayKindOrFormatWithStatus2) {
  EXPECT_EQ(RunCuserver(start_.Path(), "report 2014-02-30").err,
            "a day is a real date written yyyy-mm-dd or yyyymmdd, not \"2014-02-30\"\n");
  for (const char* bad : {"report 20140230", "report 2014031", "report 20140319 --kind mileages",
                          "report 20140319 --format csv", "report 20140319 --kind parking --format pdf",
                          "report 20140319 --kind quality --sort BEGINTIME"}) {
    EXPECT_EQ(RunCuserver(start_.Path(), bad).status, 2) << bad;
  }
}

}  // namespace
}  // namespace cuserver
