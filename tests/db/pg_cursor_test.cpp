#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "db/cursors.hpp"
#include "db/postgresql/postgresql.hpp"
#include "support/db_fixture.hpp"

namespace cuserver::test {
namespace {

// The libpq cursor must give every value exactly as the SOCI cursor gives it.
class PostgresCursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto backends = AvailableBackends();
    if (std::find(backends.begin(), backends.end(), "postgresql") == backends.end()) {
      GTEST_SKIP() << "no PostgreSQL server (CUSERVER_TEST_PG)";
    }
    database_ = std::make_unique<IsolatedDatabase>("postgresql");
  }

  using Table = std::vector<std::vector<std::string>>;

  static Table Read(Cursor& cursor, const std::vector<std::string>& columns) {
    Table rows;
    for (; !cursor.AtEnd(); cursor.Next()) {
      std::vector<std::string> row;
      for (const auto& column : columns) row.push_back(cursor.Value(column).value_or("NULL"));
      rows.push_back(row);
    }
    return rows;
  }

  std::unique_ptr<IsolatedDatabase> database_;
};

TEST_F(PostgresCursorTest, EveryValueReadsAsSociReadsIt) {
  ReportDatabase& db = database_->Db();
  db.ExecuteStatement(
      "create table v (s VARCHAR(20), c CHAR(4), t TEXT, d DOUBLE PRECISION, r REAL, n NUMERIC(10,2), "
      "i INTEGER, b BIGINT, h SMALLINT, ts TIMESTAMP, dt DATE)");
  db.ExecuteStatement(
      "insert into v values ('13''9 开远', 'ab', '', 116.397, 3.704, 80.00, -7, 9007199254740993, 3, "
      "'2014-03-19 10:00:00', '2014-03-19')");
  db.ExecuteStatement(
      "insert into v values (NULL, NULL, NULL, 1e15, 0.1, 0.5, 0, -1, -3, '2014-03-19 23:59:59.5', NULL)");
  db.ExecuteStatement("insert into v (d, r, n) values (1e-7, 1e20, 12345678.91)");
  const std::string query = "select * from v order by d";
  const std::vector<std::string> columns = {"s", "c", "t", "d", "r", "n", "i", "b", "h", "ts", "dt"};
  auto fast = OpenPostgresCursor(db.Native(), query);
  ASSERT_NE(fast, nullptr);
  const Table viaLibpq = Read(*fast, columns);
  auto soci = OpenSociCursor(db.Native(), query);
  EXPECT_EQ(viaLibpq, Read(*soci, columns));
  EXPECT_EQ(viaLibpq[1][0], "13'9 开远");
  EXPECT_EQ(viaLibpq[1][3], "116.397");
  EXPECT_EQ(viaLibpq[1][5], "80");
}

TEST_F(PostgresCursorTest, ColumnOfATypeItDoesNotReadLeavesTheQueryToSoci) {
  EXPECT_EQ(OpenPostgresCursor(database_->Db().Native(), "select interval '1 day' as x"), nullptr);
  // SOCI reads no interval either: the query fails as it always did.
  EXPECT_THROW(database_->Db().OpenQuery("select interval '1 day' as x"), DatabaseError);
}

TEST_F(PostgresCursorTest, RefusedQueryGivesTheServersReason) {
  try {
    OpenPostgresCursor(database_->Db().Native(), "select * from GPSDATA20140319");
    FAIL() << "a missing table was read";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("gpsdata20140319"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace cuserver::test
