#include <gtest/gtest.h>

#include "db/adapters.hpp"
#include "db/backends.hpp"
#include "db/report_tables.hpp"
#include "db/row_statements.hpp"

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
  Db().ExecuteStatement("insert into AlarmSMS201403 values ('1','t','s','1','2','r')");
  Db().ExecuteStatement("insert into speedalarm201403 (SIMID,SPEED,TIMELOG,ENDTIME,TOTTIME,BOOL,DISTANCE) "
                        "values ('13912345678','95','2014-03-19 10:00:00','2014-03-19 10:05:00','300','1','2.5')");
  Db().ExecuteStatement("insert into vehicledistance201403 values ('1001','2014-03-19 00:01:00',"
                        "'2014-03-19 23:59:59','86339','12.34',NULL)");
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
  DbRowSink sink(Db(), diagnostics_);
  const bool stored = sink.Write(ReportRow::Of(report_rows::kParking, "parkinglog201403",
                                               {RowValue::Text("13'9"), RowValue::Text("2014-03-19 10:00:00"),
                                                RowValue::Text("2014-03-19 10:20:00"), RowValue::Text("116.3"),
                                                RowValue::Text("39.9"), RowValue::Text("0小时20分")}),
                                 "13'9");
  if (GetBackend() == Backend::Sqlite3) {
    EXPECT_TRUE(stored);  // SQLite keeps a text in a NUMERIC column
  } else {
    EXPECT_FALSE(stored);
    EXPECT_EQ(diagnostics_.RefusedRows(), 1);
  }
}

// Each writer's row, bound, stores what its statement text has always
// stored: the same rows, value for value, in twin tables of its family.
TEST_P(ReportTablesTest, BoundRowsStoreWhatTheirStatementTextsStore) {
  EnsureReportTable(Db(), ReportTableKind::SpeedAlarm, "speedalarm201403");
  EnsureReportTable(Db(), ReportTableKind::SpeedAlarm, "speedalarm201404");
  EnsureReportTable(Db(), ReportTableKind::VehicleDistance, "vehicledistance201403");
  EnsureReportTable(Db(), ReportTableKind::VehicleDistance, "vehicledistance201404");
  EnsureReportTable(Db(), ReportTableKind::ParkingLog, "parkinglog201403");
  EnsureReportTable(Db(), ReportTableKind::ParkingLog, "parkinglog201404");
  const auto t = [](const char* text) { return RowValue::Text(text); };
  const std::vector<std::pair<const RowShape*, std::vector<RowValue>>> rows = {
      {&report_rows::kRoadSpeeding,
       {t("13912345678"), t("2014-03-19 10:00:00"), t("2014-03-19 10:05:00"), t("300"), t("95.50"), t("高速公路"),
        t("2.51"), t("116.39712345678901"), t("39.9081234567")}},
      {&report_rows::kAreaSpeeding,
       {t("13912345678"), t("2014-03-19 11:00:00"), t("2014-03-19 11:05:00"), t("300"), t("61.00"), t("O'Hare 区"),
        t("0.00"), t("39.9"), t("116.4")}},
      {&report_rows::kMileage, {t("1001"), t("2014-03-19 00:01:00"), t("2014-03-19 23:59:59"), t("123.46")}},
      {&report_rows::kParking,
       {t("1001"), t("2014-03-19 10:00:00"), t("2014-03-19 10:20:30"), t("116.39712345678901"),
        t("39.90812345678901"), t("0小时20分")}},
  };
  for (const auto& [shape, values] : rows) {
    const std::string prefix = shape == &report_rows::kMileage   ? "vehicledistance"
                               : shape == &report_rows::kParking ? "parkinglog"
                                                                 : "speedalarm";
    Db().ExecuteStatement(RowStatementText(ReportRow::Of(*shape, prefix + "201403", values)));
    ExecuteRow(Db(), ReportRow::Of(*shape, prefix + "201404", values));
  }
  for (const std::string prefix : {"speedalarm", "vehicledistance", "parkinglog"}) {
    EXPECT_EQ(RowTexts(Db(), "select * from " + prefix + "201404"), RowTexts(Db(), "select * from " + prefix + "201403"))
        << prefix;
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
