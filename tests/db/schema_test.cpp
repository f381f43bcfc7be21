#include <gtest/gtest.h>

#include "db/backends.hpp"
#include "db/schema.hpp"

namespace cuserver::test {
namespace {

using SchemaTest = BackendTest;

TEST_P(SchemaTest, InitDatabaseCanRunAgainAndKeepsRows) {
  InitDatabase(Db());
  Db().ExecuteStatement("insert into motorcade values ('m1', 'f')");
  InitDatabase(Db());
  EXPECT_EQ(CountRows("motorcade"), 1);
  for (const char* table : {"vehicleinfo", "roadlightmapinfomain", "roadlightmapinfose", "tireddriver",
                            "CONTACTALARM", "LINEALARMREPROT", "areaspeed"}) {
    EXPECT_EQ(CountRows(table), 0) << table;
  }
}

TEST_P(SchemaTest, DayTableKeepsSpeedExactForTheMovingFixFilter) {
  CreateGpsDayTable(Db(), "20140319");
  CreateGpsDayTable(Db(), "20140319");
  Db().ExecuteStatement("insert into GPSDATA20140319 values ('1', '2014-03-19 01:00:00', 116.397, 39.9, 3.704, '0')");
  Db().ExecuteStatement("insert into GPSDATA20140319 values ('1', '2014-03-19 01:00:01', 116.397, 39.9, 0, '0')");
  Db().ExecuteStatement("insert into GPSDATA20140319 values ('1', '2014-03-19 01:00:02', 116.397, 39.9, 12.5, '0')");
  EXPECT_EQ(CountRows("GPSDATA20140319 where (Speed<>0) and (Speed<>3.704)"), 1);
}

TEST_P(SchemaTest, DayKeyThatIsNotPlainIsRefused) {
  EXPECT_THROW(CreateGpsDayTable(Db(), "2014-03-19"), DatabaseError);
}

CUSERVER_ON_EVERY_BACKEND(SchemaTest);

}  // namespace
}  // namespace cuserver::test
