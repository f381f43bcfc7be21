#include "db/vehicle_day_store.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends.hpp"
#include "db/transaction.hpp"

namespace cuserver::test {
namespace {

// A vehicle's rows go together: the earlier rows removed first, each refused
// row left out with its reason, the closing statements made from what was
// written.
class VehicleDayStoreTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (HasFatalFailure()) return;
    Db().ExecuteStatement("create table t (name VARCHAR(20), speed NUMERIC(10,2) check (speed < 100))");
    Db().ExecuteStatement("create table closing (written INTEGER)");
    Db().ExecuteStatement("insert into t (name, speed) values ('old', 1)");
    run_ = OpenRunStore(Db(), diagnostics_);
    store_ = run_->StoreFor(Db());
  }

  std::vector<std::string> Names() {
    run_->Commit();
    std::vector<std::string> names;
    auto cursor = Db().OpenQuery("select name from t order by name");
    for (; !cursor->AtEnd(); cursor->Next()) names.push_back(cursor->Value("name").value_or("NULL"));
    return names;
  }

  const RowImage old_{"t", {"name", "speed"}, {"old", "1"}};

  // A row of t; the speed as the writers give it, a text.
  static ReportRow Row(const std::string& name, const std::string& speed, std::string_view speedColumn = "speed") {
    static constexpr std::string_view kColumns[] = {"name", "speed"};
    static constexpr std::string_view kWrongColumns[] = {"name", "nosuch"};
    return ReportRow{RowAction::Insert, "t", speedColumn == "speed" ? kColumns : kWrongColumns, {},
                     {RowValue::Text(name), RowValue::Text(speed)}, nullptr};
  }
  static std::vector<ReportRow> Closing(std::size_t written, const std::string& table = "closing") {
    static constexpr std::string_view kColumns[] = {"written"};
    return {ReportRow{RowAction::Insert, table, kColumns, {}, {RowValue::Integer(static_cast<long>(written))}, nullptr}};
  }
  Diagnostics diagnostics_{nullptr};
  std::unique_ptr<RunStore> run_;
  std::unique_ptr<VehicleDayStore> store_;
};

TEST_P(VehicleDayStoreTest, RefusedRowIsLeftOutAndTheOthersAreWrittenWithTheirClosing) {
  const auto results = store_->Write(
      {&old_},
      {Row("a;b", "1"), Row("b", "1", "nosuch"), Row("开远's", "3"), Row("c", "500")},
      [](const std::vector<StatementResult>& results) {
        std::size_t written = 0;
        for (const auto& result : results) written += result.written ? 1 : 0;
        return Closing(written);
      });
  ASSERT_EQ(results.size(), 4u);
  EXPECT_TRUE(results[0].written);
  EXPECT_FALSE(results[1].written);
  EXPECT_FALSE(results[1].reason.empty());
  EXPECT_TRUE(results[2].written);
  EXPECT_FALSE(results[3].written);
  std::string reason = results[3].reason;
  for (char& c : reason) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // MariaDB: "CONSTRAINT `t.speed` failed".
  EXPECT_TRUE(reason.find("check constraint") != std::string::npos ||
              reason.find("constraint `t.speed`") != std::string::npos)
      << results[3].reason;
  EXPECT_EQ(Names(), (std::vector<std::string>{"a;b", "开远's"}));
  EXPECT_EQ(QueryOne("select written from closing", "written"), "2");
}

TEST_P(VehicleDayStoreTest, FailedClosingTakesTheWholeVehicleDayBack) {
  EXPECT_THROW(store_->Write({&old_}, {Row("a", "1")},
                             [](const std::vector<StatementResult>&) { return Closing(1, "no_such_table"); }),
               DatabaseError);
  EXPECT_EQ(Names(), (std::vector<std::string>{"old"}));
}

// MariaDB gives up a lock wait (as it does a deadlock between two workers)
// by taking the transaction back: the store tells it apart, so that the
// vehicle-day is written again rather than given up, and writes nothing.
TEST_P(VehicleDayStoreTest, LockWaitGivenUpIsToldApartAsATransactionTakenBack) {
  // Natively only: a second session through ODBC reaches the data source's database, not this test's own.
  if (GetBackend() != Backend::Mysql) GTEST_SKIP() << "MariaDB's lock waits, natively";
  ReportDatabase other;
  other.OpenReportSession(Database().Settings());
  Transaction holding(other);
  other.ExecuteStatement("delete from t where name = 'old'");
  Db().ExecuteStatement("set session innodb_lock_wait_timeout = 1");
  try {
    store_->Write({&old_}, {Row("a", "1")}, [](const std::vector<StatementResult>&) { return Closing(1); });
    FAIL() << "the row locked by the other session was removed";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.Kind(), DatabaseErrorKind::TransactionLost) << error.what();
  }
  holding.Commit();
  EXPECT_EQ(CountRows("closing"), 0);
}

// The common case, sent in one go where the driver allows: a ';' or a quote
// inside a value does not split or end a statement. An earlier row is found
// by its values as the column stored them, and two equal images remove two
// of three equal rows, not all, not one.
TEST_P(VehicleDayStoreTest, EveryRowTakenIsWrittenWithItsRemovalsAndClosing) {
  for (int i = 0; i < 3; ++i) Db().ExecuteStatement("insert into t (name, speed) values ('old', 1.5)");
  const RowImage twin{"t", {"name", "speed"}, {"old", "1.50"}};
  const auto results = store_->Write(
      {&twin, &old_, &twin},
      {Row("a;b", "1"), Row("c';\nd", "2")},
      [](const std::vector<StatementResult>& results) { return Closing(results.size()); });
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[0].written && results[1].written);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a;b", "c';\nd", "old"}));
  EXPECT_EQ(QueryOne("select written from closing", "written"), "2");
}

// A re-run whose session was opened again in between still finds the
// earlier rows (on a server, what was prepared went with the old connection).
TEST_P(VehicleDayStoreTest, EarlierRowsAreFoundAfterTheSessionWasOpenedAgain) {
  const auto none = [](const std::vector<StatementResult>&) { return std::vector<ReportRow>{}; };
  store_->Write({&old_}, {Row("first", "2")}, none);
  ASSERT_EQ(Names(), (std::vector<std::string>{"first"}));
  Database().Open(Db());
  const RowImage first{"t", {"name", "speed"}, {"first", "2"}};
  store_->Write({&first}, {Row("second", "2")}, none);
  EXPECT_EQ(Names(), (std::vector<std::string>{"second"}));
}

// Rows that equal an earlier one but for letter case or trailing blanks stay,
// also where they are stored before it (MySQL's texts compare without regard
// to either).
TEST_P(VehicleDayStoreTest, OnlyAnExactlyEqualRowIsRemoved) {
  Db().ExecuteStatement("delete from t");
  for (const std::string name : {"OLD", "old ", "old"}) {
    Db().ExecuteStatement("insert into t (name, speed) values ('" + name + "', 1)");
  }
  store_->Write({&old_}, {}, [](const std::vector<StatementResult>&) { return std::vector<ReportRow>{}; });
  std::vector<std::string> names = Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"OLD", "old "}));
}

CUSERVER_ON_EVERY_BACKEND(VehicleDayStoreTest);

}  // namespace
}  // namespace cuserver::test
