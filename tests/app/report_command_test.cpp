// The report command through the built binary: the files an operator takes
// away, and the arguments it refuses.

#include <gtest/gtest.h>

#include <cstdlib>

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
            "\xEF\xBB\xBFSIMID,LICENSEPLATE,MOTORCADENAME,BEGINTIME,ENDTIME\r\n"
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

TEST_F(ReportCommandTest, XlsxHoldsASheetPerKindWithTheSameRows) {
  if (std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3-openpyxl is missing";
  const Outcome run = RunCuserver(start_.Path(), "report 20140319 --format xlsx --output day.xlsx");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string script =
      "import openpyxl, json; b = openpyxl.load_workbook('day.xlsx'); "
      "print(json.dumps({s.title: [[c if c is not None else '' for c in r] for r in s.iter_rows(values_only=True)] "
      "for s in b.worksheets}))";
  const std::string command = "cd '" + start_.Path().string() + "' && /usr/bin/python3 -c \"" + script + "\" > sheets.json";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto sheets = nlohmann::json::parse(ReadFile(start_.Path() / "sheets.json"));
  ASSERT_EQ(sheets.size(), 7u);
  EXPECT_EQ(sheets["quality-20140319"].size(), 1u);  // no day run: the header only
  EXPECT_EQ(sheets["mileage-20140319"].size(), 1u);  // the header only
  EXPECT_EQ(sheets["lostcontact-20140319"],
            nlohmann::json::parse(R"([["SIMID","LICENSEPLATE","MOTORCADENAME","BEGINTIME","ENDTIME"],)"
                                  R"(["13900000001","云A,\"1\"","开远车队","2014-03-19 10:00:00","2014-03-19 12:00:00"],)"
                                  R"(["13900000002","","","2014-03-19 11:00:00","2014-03-19 13:00:00"]])"));
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
            "\xEF\xBB\xBFSIMID,fixes,withoutPosition,otherDay,sameTime,backwards,jumps\r\n"
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
            "日期应为 yyyy-mm-dd 或 yyyymmdd 格式的真实日期，而不是“2014-02-30”\n");
  for (const char* bad : {"report 20140230", "report 2014031", "report 20140319 --kind mileages",
                          "report 20140319 --format csv", "report 20140319 --kind parking --format pdf",
                          "report 20140319 --kind quality --sort BEGINTIME"}) {
    EXPECT_EQ(RunCuserver(start_.Path(), bad).status, 2) << bad;
  }
}

}  // namespace
}  // namespace cuserver
