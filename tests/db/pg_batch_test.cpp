#include "db/pg_batch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/db_fixture.hpp"

namespace cuserver::test {
namespace {

class PostgresBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto backends = AvailableBackends();
    if (std::find(backends.begin(), backends.end(), "postgresql") == backends.end()) {
      GTEST_SKIP() << "no PostgreSQL server (CUSERVER_TEST_PG)";
    }
    database_ = std::make_unique<IsolatedDatabase>("postgresql");
    database_->Db().ExecuteStatement("create table t (name VARCHAR(20), speed NUMERIC(10,2))");
  }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    auto cursor = database_->Db().OpenQuery("select name from t order by name");
    for (; !cursor->AtEnd(); cursor->Next()) rows.push_back(cursor->Value("name").value_or("NULL"));
    return rows;
  }

  std::unique_ptr<IsolatedDatabase> database_;
  std::vector<std::string> lines_;
  Diagnostics diagnostics_{[this](const std::string& line) { lines_.push_back(line); }};
};

TEST_F(PostgresBatchTest, RowsWaitForTheFlushAndArriveWithQuotesAndSemicolonsIntact) {
  PostgresStatementBatch batch(database_->Db(), diagnostics_);
  EXPECT_TRUE(batch.Execute("insert into t values ('a;b', 1)", "t", "1"));
  EXPECT_TRUE(batch.Execute("insert into t values ('开远''s', 2)", "t", "2"));
  EXPECT_TRUE(Rows().empty());
  batch.Flush();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"a;b", "开远's"}));
  EXPECT_FALSE(diagnostics_.AnyFailure());
}

TEST_F(PostgresBatchTest, RefusedRowIsRecordedWithItsReasonAndTheOthersOfTheBatchAreWritten) {
  {
    PostgresStatementBatch batch(database_->Db(), diagnostics_);
    batch.Execute("insert into t values ('a', 1)", "t", "sim-a");
    batch.Execute("insert into t values ('b', '')", "t", "sim-b");
    batch.Execute("insert into t values ('c', 3)", "t", "sim-c");
  }
  EXPECT_EQ(Rows(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(diagnostics_.RefusedRows(), 1);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("sim-b"), std::string::npos);
  EXPECT_NE(lines_[0].find("numeric"), std::string::npos) << lines_[0];
}

TEST_F(PostgresBatchTest, FullBatchIsSentWithoutWaitingForTheFlush) {
  PostgresStatementBatch batch(database_->Db(), diagnostics_, 2);
  batch.Execute("insert into t values ('a', 1)", "t", "1");
  batch.Execute("insert into t values ('b', 1)", "t", "1");
  batch.Execute("insert into t values ('c', 1)", "t", "1");
  EXPECT_EQ(Rows().size(), 2u);
}

}  // namespace
}  // namespace cuserver::test
