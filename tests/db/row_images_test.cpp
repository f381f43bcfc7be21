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

// A row statement goes to SQLite with its values bound only where binding
// writes what the text writes.
TEST(RowImages, InsertsAreBoundOnlyWhereTheBoundRowIsTheTextsRow) {
  auto bound = ParseBindableInsert("insert into CONTACTALARM (SIMID, N)values('13''9', 42)");
  ASSERT_TRUE(bound);
  EXPECT_EQ(bound->shape, "insert into CONTACTALARM (SIMID, N)values(?, ?)");
  ASSERT_EQ(bound->values.size(), 2u);
  EXPECT_EQ(bound->values[0].text, "13'9");
  EXPECT_FALSE(bound->values[0].integer);
  EXPECT_EQ(bound->values[1].text, "42");
  EXPECT_TRUE(bound->values[1].integer);
  using namespace std::string_literals;
  for (const std::string& kept : {"insert into t (a)values(1.5)"s, "insert into t (a)values(-1)"s,
                                  "insert into t (a)values(NULL)"s, "insert into t (a)values('x\0y')"s,
                                  "insert into t (a)values(1234567890123456789)"s, "update t set a='x'"s}) {
    EXPECT_FALSE(ParseBindableInsert(kept)) << kept;
  }
}

// Runs of inserts into one table and column list become one insert, in
// their order; anything between them, or another column list, ends a run.
TEST(RowImages, ConsecutiveInsertsOfOneHeadAreMergedInOrder) {
  const std::vector<std::string> statements = {
      "insert into t (a)values('x')",
      "insert into t (a)values('y'';),(z') ;",
      "insert into t (b)values(1)",
      "update t set b=2 where a='x'",
      "insert into t (b)values(3)",
      "insert into t (b) values(4)",
      "insert into t (b) values (5)",
      "delete from t",
      "insert into t (b) values (6",
  };
  EXPECT_EQ(MergedInserts(statements), (std::vector<std::string>{
                                           "insert into t (a)values('x'),('y'';),(z')",
                                           "insert into t (b)values(1)",
                                           "update t set b=2 where a='x'",
                                           "insert into t (b)values(3)",
                                           "insert into t (b) values(4),(5)",
                                           "delete from t",
                                           "insert into t (b) values (6",
                                       }));
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
