#include <gtest/gtest.h>

#include "db/adapters.hpp"
#include "db/backends.hpp"
#include "db/report_tables.hpp"

namespace cuserver::test {
namespace {

class ReportTablesTest : public BackendTest {
 protected:
  Diagnostics diagnostics_{[this](const std::string& line) { lines_.push_back(line); }};
  std::vector<std::string> lines_;
};

TEST_P(ReportTablesTest, EveryFamilyIsCreatedOnceAndTakesItsRows) {
  EnsureReportTable(Db(), ReportTableKind::AlarmSMS, "AlarmSMS201403");
  EnsureReportTable(Db(), ReportTableKind::DownloadSMS, "DownloadSMS201403");
  EnsureReportTable(Db(), ReportTableKind::SpeedAlarm, "SpeedAlarm201403");
  EnsureReportTable(Db(), ReportTableKind::VehicleDistance, "VehicleDistance201403");
  EnsureReportTable(Db(), ReportTableKind::ParkingLog, "Parkinglog201403");
  DbStatementSink sink(Db(), diagnostics_);
  EXPECT_TRUE(sink.Execute("insert into AlarmSMS201403 values ('1','t','s','1','2','r')", "AlarmSMS201403", "1"));
  EXPECT_TRUE(sink.Execute("insert into speedalarm201403 (SIMID,SPEED,TIMELOG,ENDTIME,TOTTIME,BOOL,DISTANCE) "
                           "values ('13912345678','95','2014-03-19 10:00:00','2014-03-19 10:05:00','300','1','2.5')",
                           "speedalarm201403", "13912345678"));
  EXPECT_TRUE(sink.Execute("insert into vehicledistance201403 values ('1001','2014-03-19 00:01:00',"
                           "'2014-03-19 23:59:59','86339','12.34','')",
                           "vehicledistance201403", "1001"));
  EXPECT_TRUE(lines_.empty()) << lines_.front();
  // The day run's spelling of a family names the same table as the evening check's.
  EnsureReportTable(Db(), ReportTableKind::VehicleDistance, "vehicledistance201403");
  EXPECT_EQ(CountRows("VehicleDistance201403"), 1);
  EXPECT_EQ(QueryOne("select DISTANCE from vehicledistance201403", "distance"), "12.34");
  EXPECT_EQ(QueryOne("select SIMID from speedalarm201403", "SIMID"), "13912345678");
}

TEST_P(ReportTablesTest, ParkingTimesKeepTheirTimeOfDay) {
  EnsureReportTable(Db(), ReportTableKind::ParkingLog, "parkinglog201403");
  Db().ExecuteStatement("insert into parkinglog201403 values ('1001','2014-03-19 10:00:00','2014-03-19 10:20:30',"
                        "'1230','116.39712345','39.90812345','','','')");
  EXPECT_EQ(QueryOne("select * from parkinglog201403", "BEGINTIME"), "2014-03-19 10:00:00");
  EXPECT_EQ(QueryOne("select * from parkinglog201403", "endtime"), "2014-03-19 10:20:30");
  EXPECT_EQ(QueryOne("select * from parkinglog201403", "longitude"), "116.39712345");
}

TEST_P(ReportTablesTest, ExistingTableWithOtherColumnsIsLeftAlone) {
  Db().ExecuteStatement("CREATE TABLE ParkingLog201404 (only_column VARCHAR(5))");
  Db().ExecuteStatement("insert into ParkingLog201404 values ('x')");
  EnsureReportTable(Db(), ReportTableKind::ParkingLog, "ParkingLog201404");
  EXPECT_EQ(QueryOne("select * from ParkingLog201404", "only_column"), "x");
}

TEST_P(ReportTablesTest, NonNumericSimIdIsRefusedByTheNumericTables) {
  EnsureReportTable(Db(), ReportTableKind::ParkingLog, "parkinglog201403");
  DbStatementSink sink(Db(), diagnostics_);
  const bool stored = sink.Execute("insert into parkinglog201403 (SIMID) values ('13''9')", "parkinglog201403", "13'9");
  if (GetBackend() == Backend::Sqlite3) {
    EXPECT_TRUE(stored);  // SQLite keeps a text in a NUMERIC column
  } else {
    EXPECT_FALSE(stored);
    EXPECT_EQ(diagnostics_.RefusedRows(), 1);
  }
}

CUSERVER_ON_EVERY_BACKEND(ReportTablesTest);

TEST(ReportTablesClosed, NeverThrowsWithoutAConnection) {
  ReportDatabase db;
  EXPECT_NO_THROW(EnsureReportTable(db, ReportTableKind::SpeedAlarm, "SpeedAlarm201403"));
}

TEST(ReportTablesClosed, NameThatIsNotPlainIsNotSent) {
  SqliteTestDatabase sqlite;
  EXPECT_NO_THROW(EnsureReportTable(sqlite.Db(), ReportTableKind::SpeedAlarm, "x (a int); drop table vehicleinfo; --"));
  EXPECT_NO_THROW(sqlite.Db().OpenQuery("select * from vehicleinfo"));
}

}  // namespace
}  // namespace cuserver::test
