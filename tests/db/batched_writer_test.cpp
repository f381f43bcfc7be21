#include "db/sqlite/batched_writer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/db_fixture.hpp"

namespace cuserver::test {
namespace {

class BatchedWriterTest : public ::testing::Test {
 protected:
  BatchedWriterTest() { database_.Db().ExecuteStatement("create table t (x VARCHAR(20))"); }

  std::vector<std::string> Rows() {
    // A session of its own sees only what was committed.
    ReportDatabase reader;
    reader.OpenReportSession(database_.Settings());
    std::vector<std::string> rows;
    auto cursor = reader.OpenQuery("select x from t order by x");
    for (; !cursor->AtEnd(); cursor->Next()) rows.push_back(cursor->Value("x").value_or("NULL"));
    return rows;
  }

  static ReportRow Row(const std::string& table, const std::string& x) {
    static constexpr std::string_view kColumns[] = {"x"};
    return ReportRow{RowAction::Insert, table, kColumns, {}, {RowValue::Text(x)}, nullptr};
  }

  // One row as a block of its own; a refusal is recorded as a vehicle's is.
  bool Insert(BatchedWriter& writer, const std::string& x, const std::string& table = "t") {
    const std::string simId = "sim-" + x;
    try {
      const auto results = writer.ExecuteBlock({}, {Row(table, x)}, NoClosing, {simId});
      if (results[0].written) return true;
      diagnostics_.RowRefused(table, simId, results[0].reason);
    } catch (const DatabaseError& error) {
      diagnostics_.RowRefused(table, simId, DatabaseErrorText(error));
    }
    return false;
  }

  static std::vector<ReportRow> NoClosing(const std::vector<StatementResult>&) { return {}; }

  SqliteTestDatabase database_;
  std::vector<std::string> lines_;
  Diagnostics diagnostics_{[this](const std::string& line) { lines_.push_back(line); }};
};

TEST_F(BatchedWriterTest, RowsAreCommittedTogetherWhenALimitIsReached) {
  BatchedWriter writer(database_.Db(), diagnostics_, {3, std::chrono::hours(1)});
  EXPECT_TRUE(Insert(writer, "a"));
  EXPECT_TRUE(Insert(writer, "b"));
  EXPECT_FALSE(writer.CommitIfDue());
  EXPECT_TRUE(Rows().empty());
  EXPECT_TRUE(Insert(writer, "c"));
  EXPECT_TRUE(writer.CommitIfDue());
  EXPECT_EQ(Rows(), (std::vector<std::string>{"a", "b", "c"}));
}

// Workers read through sessions of their own while the writer's transaction
// grows past its page cache; had it spilled to the file, every read would wait
// for a commit that waits for the readers.
TEST_F(BatchedWriterTest, ReadersGoOnWhileATransactionOutgrowsTheCache) {
  database_.Db().ExecuteStatement("PRAGMA cache_size = 10");
  BatchedWriter writer(database_.Db(), diagnostics_, {100000, std::chrono::hours(1)});
  ConnectionSettings settings = database_.Settings();
  settings.statementTimeoutSeconds = 1;
  ReportDatabase reader;
  reader.OpenReportSession(settings);
  const std::string wide(400, 'w');
  for (int i = 0; i < 2000; ++i) {
    writer.ExecuteBlock({}, {Row("t", wide)}, NoClosing);
  }
  EXPECT_NO_THROW(reader.OpenQuery("select count(*) as n from t")->Close());
  writer.Commit();
  EXPECT_TRUE(lines_.empty());
}

TEST_F(BatchedWriterTest, PendingRowsAreCommittedAtTheEnd) {
  {
    BatchedWriter writer(database_.Db(), diagnostics_);
    Insert(writer, "a");
  }
  EXPECT_EQ(Rows(), (std::vector<std::string>{"a"}));
}

TEST_F(BatchedWriterTest, RefusedRowIsRecordedAndTheOthersOfItsTransactionStay) {
  BatchedWriter writer(database_.Db(), diagnostics_);
  Insert(writer, "a");
  EXPECT_FALSE(Insert(writer, "b", "missing"));
  Insert(writer, "c");
  writer.Commit();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(diagnostics_.RefusedRows(), 1);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("missing"), std::string::npos);
  EXPECT_NE(lines_[0].find("sim-b"), std::string::npos);
}

// A trigger's RAISE(ROLLBACK) drops the whole transaction, as a full disk would.
TEST_F(BatchedWriterTest, RowsOfADroppedTransactionAreSentAgainNotLost) {
  database_.Db().ExecuteStatement(
      "create trigger refuse before insert on t when new.x = 'bad' begin select raise(rollback, 'no bad rows'); end");
  BatchedWriter writer(database_.Db(), diagnostics_);
  Insert(writer, "a");
  Insert(writer, "b");
  EXPECT_FALSE(Insert(writer, "bad"));
  Insert(writer, "c");
  writer.Commit();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(diagnostics_.RefusedRows(), 1);
}

TEST_F(BatchedWriterTest, SeveralThreadsWriteEveryRowOnce) {
  BatchedWriter writer(database_.Db(), diagnostics_, {7, std::chrono::hours(1)});
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 50; ++i) {
          Insert(writer, std::to_string(t * 1000 + i));
          writer.CommitIfDue();
        }
      });
    }
  }
  writer.Commit();
  EXPECT_EQ(Rows().size(), 200u);
  EXPECT_FALSE(diagnostics_.AnyFailure());
}

}  // namespace
}  // namespace cuserver::test
