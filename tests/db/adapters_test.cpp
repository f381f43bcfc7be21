#include <gtest/gtest.h>

#include "db/adapters.hpp"
#include "db/backends.hpp"
#include "db/loaders.hpp"
#include "db/schema.hpp"
#include "reports/report_tables.hpp"
#include "reports/sql_text.hpp"

namespace cuserver::test {
namespace {

class AdaptersTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (HasFatalFailure()) return;
    InitDatabase(Db());
    CreateGpsDayTable(Db(), "20140319");
  }
  bool Insert(const std::string& table, const std::string& simId, const std::string& rest) {
    try {
      Db().ExecuteStatement("insert into " + table + " values ('" + SqlValue(simId) + "'" + rest + ")");
      return true;
    } catch (const DatabaseError& error) {
      ADD_FAILURE() << DatabaseErrorText(error);
      return false;
    }
  }
  Diagnostics diagnostics_{[this](const std::string& line) { lines_.push_back(line); }};
  std::vector<std::string> lines_;
};

TEST_P(AdaptersTest, QuoteAndChineseTextTravelIntactBothWays) {
  const std::string simId = "13'9";
  const std::string road = "京港澳高速 O'Hare";
  ASSERT_TRUE(Insert("GPSDATA20140319", simId, ", '2014-03-19 08:00:00', 116.397, 39.9, 60, '报警'"));
  ASSERT_TRUE(Insert("vehicleinfo", simId, ", '京A·12345', 'm1', 80, 100, NULL, NULL, NULL, NULL"));
  ASSERT_TRUE(Insert("motorcade", "m1", ", '" + SqlValue("车队'一") + "'"));
  ASSERT_TRUE(Insert("roadlightmapinfo", "1", ", '2', '3', '" + SqlValue(road) + "', '北京'"));

  auto vehicles = LoadVehicleList(Db());
  ASSERT_EQ(vehicles.size(), 1u);
  EXPECT_EQ(vehicles[0].simId, simId);
  EXPECT_EQ(vehicles[0].licensePlate, "京A·12345");
  EXPECT_EQ(vehicles[0].fleetName, "车队'一");
  TrackBuffer track;
  ASSERT_EQ(LoadDayTrack(Db(), vehicles[0].simId, "20140319", track), 1);
  EXPECT_EQ(track[0].simId, simId);
  EXPECT_EQ(track[0].alarmState, "报警");
  EXPECT_EQ(LoadRoadNames(Db()), (std::vector<std::string>{road}));
  EXPECT_TRUE(lines_.empty());
}

TEST_P(AdaptersTest, RefusedRowIsCountedWithTableSimIdAndReason) {
  DbRowSink sink(Db(), diagnostics_);
  EXPECT_FALSE(sink.Write(ReportRow::Of(report_rows::kLostContact, "SpeedAlarm209912",
                                        {RowValue::Text("1001"), RowValue::Text("a"), RowValue::Text("b")}),
                          "1001"));
  EXPECT_EQ(diagnostics_.RefusedRows(), 1);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("SpeedAlarm209912"), std::string::npos);
  EXPECT_NE(lines_[0].find("1001"), std::string::npos);
  // The session goes on after a refused row.
  EXPECT_TRUE(Insert("CONTACTALARM", "1001", ", '2014-03-19 00:01:00', '2014-03-19 23:59:59'"));
}

// A failure says what it means, on every backend: the row's values, the
// table, or something else, with the driver's own code.
TEST_P(AdaptersTest, DatabaseErrorsCarryTheirKind) {
  Db().ExecuteStatement("create table checked (speed NUMERIC(10,2) check (speed < 100))");
  const auto kindOf = [this](const std::string& statement) {
    try {
      Db().ExecuteStatement(statement);
    } catch (const DatabaseError& error) {
      EXPECT_FALSE(error.NativeCode().empty()) << statement;
      return error.Kind();
    }
    ADD_FAILURE() << statement << " was taken";
    return DatabaseErrorKind::Other;
  };
  EXPECT_EQ(kindOf("insert into checked values (500)"), DatabaseErrorKind::RowRefused);
  EXPECT_EQ(kindOf("insert into no_such_table values (1)"), DatabaseErrorKind::MissingTable);
  EXPECT_EQ(kindOf("insert into checked values ("), DatabaseErrorKind::Other);
}

TEST_P(AdaptersTest, FixReaderGivesPositionsInQueryOrderAndEmptyForNull) {
  Insert("GPSDATA20140319", "1001", ", '2014-03-19 08:00:02', 116.5, 39.5, 10, '0'");
  Insert("GPSDATA20140319", "1001", ", '2014-03-19 08:00:01', NULL, NULL, 10, '0'");
  Insert("GPSDATA20140319", "1001", ", '2014-03-19 08:00:03', 116.397, 39.9, 3.704, '0'");
  DbFixReader reader(Db());
  std::vector<std::string> seen;
  reader.ForEachFix("select * from GPSDATA20140319 where SIMID='1001' and time>'2014-03-19 08:00:00' and "
                    "time<'2014-03-19 09:00:00' and (Speed<>0) and (Speed<>3.704) order by time asc",
                    [&](std::string_view lon, std::string_view lat) { seen.push_back(std::string(lon) + "," + std::string(lat)); });
  EXPECT_EQ(seen, (std::vector<std::string>{",", "116.5,39.5"}));
}

TEST_P(AdaptersTest, FixReaderOnAMissingDayTableIsAQueryOpenError) {
  DbFixReader reader(Db());
  EXPECT_THROW(reader.ForEachFix("select * from GPSDATA19990101 where SIMID='1' order by time asc",
                                 [](std::string_view, std::string_view) {}),
               QueryOpenError);
}

TEST_P(AdaptersTest, FixReaderPassesOnErrorsOfTheRowFunction) {
  Insert("GPSDATA20140319", "1001", ", '2014-03-19 08:00:02', 116.5, 39.5, 10, '0'");
  DbFixReader reader(Db());
  EXPECT_THROW(reader.ForEachFix("select * from GPSDATA20140319",
                                 [](std::string_view, std::string_view) { throw std::runtime_error("map"); }),
               std::runtime_error);
}

CUSERVER_ON_EVERY_BACKEND(AdaptersTest);

}  // namespace
}  // namespace cuserver::test
