#include "db/postgresql/pg_copy.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/db_fixture.hpp"

namespace cuserver::test {
namespace {

bool HasPostgresql() {
  const auto backends = AvailableBackends();
  return std::find(backends.begin(), backends.end(), "postgresql") != backends.end();
}

class PostgresCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasPostgresql()) GTEST_SKIP() << "no PostgreSQL server (CUSERVER_TEST_PG)";
    database_ = std::make_unique<IsolatedDatabase>("postgresql");
    database_->Db().ExecuteStatement("create table t (name VARCHAR(20), speed DOUBLE PRECISION)");
  }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    auto cursor = database_->Db().OpenQuery("select name, speed from t order by name");
    for (; !cursor->AtEnd(); cursor->Next()) {
      rows.push_back(cursor->Value("name").value_or("NULL") + "|" + cursor->Value("speed").value_or("NULL"));
    }
    return rows;
  }

  std::unique_ptr<IsolatedDatabase> database_;
};

TEST_F(PostgresCopyTest, RowsArriveWithNullsAndChineseText) {
  PostgresCopyIn(database_->Db(), "COPY t (name, speed) FROM STDIN", "开远\t3.704\nb\t\\N\n");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"b|NULL", "开远|3.704"}));
}

TEST_F(PostgresCopyTest, BadRowFailsWithTheServersReasonAndTheSessionGoesOn) {
  try {
    PostgresCopyIn(database_->Db(), "COPY t (name, speed) FROM STDIN", "a\t1\nb\tfast\n");
    FAIL() << "a speed of \"fast\" was accepted";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("fast"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(Rows().empty());
  database_->Db().ExecuteStatement("insert into t values ('c', 1)");
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(PostgresCopyTest, MissingTableIsADatabaseError) {
  EXPECT_THROW(PostgresCopyIn(database_->Db(), "COPY nowhere FROM STDIN", "a\n"), DatabaseError);
  EXPECT_NO_THROW(database_->Db().ExecuteStatement("insert into t values ('c', 1)"));
}

}  // namespace
}  // namespace cuserver::test
