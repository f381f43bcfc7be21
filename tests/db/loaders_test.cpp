#include <gtest/gtest.h>

#include "db/backends.hpp"
#include "db/loaders.hpp"
#include "db/schema.hpp"
#include "reports/sql_text.hpp"

namespace cuserver::test {
namespace {

class LoadersTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (HasFatalFailure()) return;
    InitDatabase(Db());
  }
  // Values are SQL literals: 'text', a number or NULL.
  void Exec(const std::string& statement) { Db().ExecuteStatement(statement); }
  void Vehicle(const std::string& values) {
    Exec("insert into vehicleinfo (simid, licenseplate, motorcadeid, alarmspeed, highalarmspeed) values (" + values +
         ")");
  }
  void Fix(const std::string& values) { Exec("insert into GPSDATA20140319 values (" + values + ")"); }
  Diagnostics diagnostics_{[this](const std::string& line) { lines_.push_back(line); }};
  std::vector<std::string> lines_;
  TrackBuffer track_;
};

TEST_P(LoadersTest, VehicleListHasOnlyVehiclesWithAFleetWithEmptyTextForNull) {
  Exec("insert into motorcade values ('m1', '一队')");
  Exec("insert into motorcade values ('m2', NULL)");
  Vehicle("'1001', '京A1', 'm1', 80, 100");
  Vehicle("'1002', NULL, 'm2', NULL, NULL");
  Vehicle("'1003', '京A3', 'm9', 60, 90");
  auto list = LoadVehicleList(Db());
  ASSERT_EQ(list.size(), 2u);
  std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.simId < b.simId; });
  EXPECT_EQ(list[0].simId, "1001");
  EXPECT_EQ(list[0].fleetName, "一队");
  EXPECT_EQ(list[0].licensePlate, "京A1");
  EXPECT_EQ(list[1].simId, "1002");
  EXPECT_EQ(list[1].fleetName, "");
  EXPECT_EQ(list[1].licensePlate, "");
}

TEST_P(LoadersTest, EmptyCatalogueGivesEmptyLists) {
  EXPECT_TRUE(LoadVehicleList(Db()).empty());
  EXPECT_TRUE(LoadSpeedLimits(Db()).empty());
}

// One listing without a SIMID used to end the load for the whole fleet.
TEST_P(LoadersTest, NullSimIdIsAnEmptyListingAndTheOthersStay) {
  Exec("insert into motorcade values ('m1', 'f')");
  Vehicle("NULL, 'x', 'm1', 1, 1");
  Vehicle("'1002', 'y', 'm1', 1, 1");
  const VehicleList vehicles = LoadVehicleList(Db());
  ASSERT_EQ(vehicles.size(), 2u);
  EXPECT_EQ(std::min(vehicles[0].simId, vehicles[1].simId) + "|" + std::max(vehicles[0].simId, vehicles[1].simId),
            "|1002");
}

TEST_P(LoadersTest, SpeedLimitsAreTextAndNullNeverRepeatsTheRowBefore) {
  Vehicle("'1001', 'a', 'm1', 80, 120.5");
  Vehicle("'1002', 'b', 'm1', NULL, NULL");
  auto limits = LoadSpeedLimits(Db());
  ASSERT_EQ(limits.size(), 2u);
  std::sort(limits.begin(), limits.end(), [](auto& a, auto& b) { return a.simId < b.simId; });
  EXPECT_EQ(limits[0].alarmSpeed, "80");
  EXPECT_EQ(limits[0].highAlarmSpeed, "120.5");
  EXPECT_EQ(limits[1].alarmSpeed, "");
  EXPECT_EQ(limits[1].highAlarmSpeed, "");
}

TEST_P(LoadersTest, MissingVehicleTableIsADatabaseError) {
  Exec("DROP TABLE vehicleinfo");
  EXPECT_THROW(LoadSpeedLimits(Db()), DatabaseError);
  EXPECT_THROW(LoadVehicleList(Db()), DatabaseError);
}

TEST_P(LoadersTest, DayTrackComesInTimeOrderWithAllSixFields) {
  CreateGpsDayTable(Db(), "20140319");
  Fix("'1001', '2014-03-19 10:00:05', 116.397, 39.9, 3.704, '0'");
  Fix("'1001', '2014-03-19 09:00:00', 116.3, 39.8, 80, 'A1'");
  Fix("'1002', '2014-03-19 09:30:00', 1, 2, 3, '0'");
  EXPECT_EQ(LoadDayTrack(Db(), "1001", "20140319", track_), 2);
  EXPECT_EQ(track_[0].time, "2014-03-19 09:00:00");
  EXPECT_EQ(track_[0].longitude.Text(), "116.3");
  EXPECT_EQ(track_[0].latitude.Text(), "39.8");
  EXPECT_EQ(track_[0].simId, "1001");
  EXPECT_EQ(track_[0].speed.Text(), "80");
  EXPECT_EQ(track_[0].alarmState, "A1");
  EXPECT_EQ(track_[1].longitude.Text(), "116.397");
  EXPECT_EQ(track_[1].speed.Text(), "3.704");
  EXPECT_EQ(track_[2].simId, "");  // the end mark
}

TEST_P(LoadersTest, NullFieldsReadEmptyNotAsTheVehicleLoadedBefore) {
  CreateGpsDayTable(Db(), "20140319");
  Fix("'1001', '2014-03-19 09:00:00', 116.3, 39.8, 80, 'A1'");
  Fix("'1001', '2014-03-19 09:00:10', 116.4, 39.9, 90, 'A2'");
  Fix("'1002', '2014-03-19 09:00:00', NULL, NULL, NULL, NULL");
  ASSERT_EQ(LoadDayTrack(Db(), "1001", "20140319", track_), 2);
  ASSERT_EQ(LoadDayTrack(Db(), "1002", "20140319", track_), 1);
  EXPECT_EQ(track_[0].longitude.Text(), "");
  EXPECT_EQ(track_[0].latitude.Text(), "");
  EXPECT_EQ(track_[0].speed.Text(), "");
  EXPECT_EQ(track_[0].alarmState, "");
  EXPECT_EQ(track_[1].simId, "");
}

TEST_P(LoadersTest, TimeOfTheWrongLengthIsPassedOnAsStored) {
  CreateGpsDayTable(Db(), "20140319");
  Fix("'1001', '2014-3-19 9:00', 1, 2, 3, '0'");
  ASSERT_EQ(LoadDayTrack(Db(), "1001", "20140319", track_), 1);
  EXPECT_EQ(track_[0].time, "2014-3-19 9:00");
}

TEST_P(LoadersTest, MissingDayTableIsADatabaseErrorAndLeavesNoFix) {
  track_.Append().simId = "stale";
  EXPECT_THROW(LoadDayTrack(Db(), "1001", "19990101", track_), DatabaseError);
  EXPECT_EQ(track_.Count(), 0);
  EXPECT_EQ(track_[0].simId, "");
}

TEST_P(LoadersTest, DayKeyThatIsNotPlainIsRefused) {
  EXPECT_THROW(LoadDayTrack(Db(), "1001", "20140319 where 1=1 --", track_), DatabaseError);
}

TEST_P(LoadersTest, DayTrackLongerThanTheOldBufferIsLoadedWhole) {
  CreateGpsDayTable(Db(), "20140319");
  // MySQL's || is "or", and its / divides to a fraction.
  const std::string time = Db().Dialect() == SqlDialect::Mysql
                               ? "concat('2014-03-19 ', sec_to_time(x))"
                               : "'2014-03-19 ' || (x / 36000) || (x / 3600 % 10) || ':' || (x / 600 % 6) || "
                                 "(x / 60 % 10) || ':' || (x / 10 % 6) || (x % 10)";
  Exec("insert into GPSDATA20140319 with recursive k(x) as (select 0 union all select x + 1 from k where x < 86399) "
       "select '1001', " + time + ", 116, 39, 50, '0' from k");
  ASSERT_EQ(LoadDayTrack(Db(), "1001", "20140319", track_), 86400);
  EXPECT_EQ(track_[0].time, "2014-03-19 00:00:00");
  EXPECT_EQ(track_[86399].time, "2014-03-19 23:59:59");
  EXPECT_EQ(track_[86400].simId, "");
}

TEST_P(LoadersTest, AreaSpeedEntriesInDatabaseOrder) {
  Exec("insert into areaspeed values ('1001', 'k1', '市区', '60')");
  Exec("insert into areaspeed values ('1002', NULL, '郊区', '80')");
  auto entries = LoadAreaSpeedList(Db(), diagnostics_);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].areaName, "市区");
  EXPECT_EQ(entries[0].speedLimit, "60");
  EXPECT_EQ(entries[1].areaKey, "");
  EXPECT_TRUE(lines_.empty());
}

TEST_P(LoadersTest, MissingAreaSpeedTableGivesNoEntriesAndOneInfoLine) {
  Exec("DROP TABLE areaspeed");
  EXPECT_TRUE(LoadAreaSpeedList(Db(), diagnostics_).empty());
  EXPECT_EQ(lines_.size(), 1u);
  EXPECT_FALSE(diagnostics_.AnyFailure());
}

TEST_P(LoadersTest, RoadNamesAreReplacedByEachLoad) {
  Exec("insert into roadlightmapinfo (roadname) values ('京石高速')");
  EXPECT_EQ(LoadRoadNames(Db()), (std::vector<std::string>{"京石高速"}));
  Exec("insert into roadlightmapinfo (roadname) values (NULL)");
  EXPECT_THROW(LoadRoadNames(Db()), DatabaseError);
}

// However the columns are typed, a day track reads as the rows of the plain
// query read by name: the same texts and leading numbers.
TEST_P(LoadersTest, DayTrackReadsAsTheQueryWhateverTheColumnTypes) {
  const struct {
    const char* columns;
    std::vector<std::string> rows;
  } cases[] = {
      {"time varchar(19), longitude double precision, latitude double precision, speed double precision, "
       "ALARMSTATE varchar(40)",
       {"'2014-03-19 09:00:00', 116.397, -39.9, 3.704, 'A'", "'2014-03-19 09:00:30', 1e-05, 0, NULL, NULL",
        "'2014-03-19 09:01:00', 123456789.125, -0.5, 250.75, ''"}},
      {"time varchar(19), longitude integer, latitude bigint, speed smallint, ALARMSTATE integer",
       {"'2014-03-19 09:00:00', 116, -9000000000, 80, 7", "'2014-03-19 09:00:30', NULL, 0, -3, NULL"}},
      {"time varchar(19), longitude real, latitude numeric(12,6), speed real, ALARMSTATE char(4)",
       {"'2014-03-19 09:00:00', 116.397, 39.908123, 3.704, 'ab'", "'2014-03-19 09:00:30', 1.1, -0.5, 0, NULL"}},
      {"time timestamp, longitude double precision, latitude double precision, speed double precision, "
       "ALARMSTATE varchar(40)",
       {"'2014-03-19 09:00:00', 116.397, 39.9, 3.704, 'A'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    Exec("drop table if exists GPSDATA20140319");
    Exec(std::string("create table GPSDATA20140319 (SIMID varchar(20), ") + c.columns + ")");
    for (const std::string& row : c.rows) Fix("'1001', " + row);
    ASSERT_EQ(LoadDayTrack(Db(), "1001", "20140319", track_), static_cast<int>(c.rows.size()));
    auto cursor = Db().OpenQuery("select * from GPSDATA20140319 where SIMID='1001' order by time asc");
    for (int i = 0; !cursor->AtEnd(); cursor->Next(), ++i) {
      const TrackPoint& fix = track_[static_cast<std::size_t>(i)];
      const auto text = [&](const char* column) { return cursor->Value(column).value_or(""); };
      EXPECT_EQ(fix.time, text("time"));
      EXPECT_EQ(fix.simId, text("SIMID"));
      EXPECT_EQ(fix.alarmState, text("ALARMSTATE"));
      const std::pair<const FixValue*, const char*> numbers[] = {
          {&fix.longitude, "longitude"}, {&fix.latitude, "latitude"}, {&fix.speed, "speed"}};
      for (const auto& [value, column] : numbers) {
        EXPECT_EQ(value->Text(), text(column)) << column;
        EXPECT_EQ(value->Number(), LeadingDouble(text(column))) << column;
      }
    }
  }
}

CUSERVER_ON_EVERY_BACKEND(LoadersTest);

}  // namespace
}  // namespace cuserver::test

namespace cuserver::test {
namespace {

// Only SQLite lets a number column hold text; the reports' leading-number
// conversions decide what it is worth.
TEST(LoadDayTrackSqlite, NonNumericTextInANumberColumnIsPassedOnAsStored) {
  SqliteTestDatabase sqlite;
  CreateGpsDayTable(sqlite.Db(), "20140319");
  sqlite.Db().ExecuteStatement(
      "insert into GPSDATA20140319 values ('1001', '2014-03-19 09:00:00', '116.3E', 'n/a', '12km/h', 7)");
  TrackBuffer track;
  ASSERT_EQ(LoadDayTrack(sqlite.Db(), "1001", "20140319", track), 1);
  EXPECT_EQ(track[0].longitude.Text(), "116.3E");
  EXPECT_EQ(track[0].latitude.Text(), "n/a");
  EXPECT_EQ(track[0].speed.Text(), "12km/h");
  EXPECT_EQ(track[0].alarmState, "7");
}

}  // namespace
}  // namespace cuserver::test
