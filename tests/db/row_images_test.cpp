#include "db/row_images.hpp"

#include <gtest/gtest.h>

#include <set>

namespace cuserver {
namespace {

// The row writers' statements, read back value by value (quotes doubled,
// blanks around names, '%d' quoted or not).
TEST(RowImages, StatementsOfTheRowWritersAreReadBack) {
  auto parking = ParseInsert(
      "insert into parkinglog201403(SimId, begintime,endTime,Longitude,Latitude,stopadd) "
      "values('13''9','2014-03-19 08:00:00','2014-03-19 08:20:00','','24.5','0小时20分')");
  ASSERT_TRUE(parking);
  EXPECT_EQ(parking->table, "parkinglog201403");
  EXPECT_EQ(parking->columns,
            (std::vector<std::string>{"SimId", "begintime", "endTime", "Longitude", "Latitude", "stopadd"}));
  EXPECT_EQ(parking->values, (std::vector<std::string>{"13'9", "2014-03-19 08:00:00", "2014-03-19 08:20:00", "",
                                                       "24.5", "0小时20分"}));

  auto close = ParseUpdate(
      "update LINEALARMREPROT set ENDTIME='2014-03-19 10:00:30',TOTTIME =30 where SIMID='13''9' and "
      "BEGINTIME='2014-03-19 10:00:00' ");
  ASSERT_TRUE(close);
  VehicleDayRows rows;
  rows.Add(*ParseInsert("insert into LINEALARMREPROT (SIMID,BEGINTIME,REMARK)values('13''9','2014-03-19 10:00:00','001')"));
  rows.Apply(*close);
  EXPECT_EQ(rows.Rows()[0].values,
            (std::vector<std::string>{"13'9", "2014-03-19 10:00:00", "001", "2014-03-19 10:00:30", "30"}));

  for (const char* other : {"delete from t", "insert into t (a)values('x'", "insert into t (a,b)values('x')"}) {
    EXPECT_FALSE(ParseInsert(other)) << other;
  }
}

TEST(RowImages, LedgerTextKeepsEveryValueExactly) {
  VehicleDayRows rows;
  rows.Add({"CONTACTALARM", {"SIMID", "BEGINTIME"}, {"a\"b\\c", "line\r\nbreak\t\x01"}});
  rows.Add({"tireddriver", {"SIMID"}, {"司机"}});
  rows.Add({"CONTACTALARM", {"SIMID", "BEGINTIME"}, {"", "2014-03-19 00:01:00"}});
  const VehicleDayRows back = VehicleDayRows::Parse(rows.Serialise());
  std::multiset<std::vector<std::string>> written;
  std::multiset<std::vector<std::string>> read;
  for (const auto& row : rows.Rows()) written.insert(row.values);
  for (const auto& row : back.Rows()) read.insert(row.values);
  EXPECT_EQ(read, written);
  EXPECT_THROW(VehicleDayRows::Parse("[{\"t\":1}]"), std::runtime_error);
}

}  // namespace
}  // namespace cuserver
