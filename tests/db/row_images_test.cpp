#include "db/row_images.hpp"

#include "db/row_statements.hpp"
#include "reports/report_tables.hpp"

#include <gtest/gtest.h>

#include <set>

namespace cuserver {
namespace {

// The ledger keeps an insert's values as their texts and applies a later
// completion to the row it selects.
TEST(RowImages, LedgerImagesFollowTheRowsAndTheirCompletions) {
  VehicleDayRows rows;
  rows.Add(ImageOf(ReportRow::Of(report_rows::kLineAlarmOpen, "LINEALARMREPROT",
                                 {RowValue::Text("13'9"), RowValue::Text("2014-03-19 10:00:00"), RowValue::Text("001")})));
  rows.Apply(UpdateOf(ReportRow::Of(report_rows::kLineAlarmClose, "LINEALARMREPROT",
                                    {RowValue::Text("2014-03-19 10:00:30"), RowValue::Integer(30),
                                     RowValue::Text("13'9"), RowValue::Text("2014-03-19 10:00:00")})));
  EXPECT_EQ(rows.Rows()[0].values,
            (std::vector<std::string>{"13'9", "2014-03-19 10:00:00", "001", "2014-03-19 10:00:30", "30"}));
}

// Runs of inserts into one table and column list become one insert of
// literals, in their order; anything between them, or another column list,
// ends a run.
TEST(RowImages, ConsecutiveInsertsOfOneHeadAreMergedInOrder) {
  static constexpr std::string_view a[] = {"a"};
  static constexpr std::string_view b[] = {"b"};
  const auto insert = [](std::span<const std::string_view> columns, RowValue value) {
    return ReportRow{RowAction::Insert, "t", columns, {}, {std::move(value)}, nullptr};
  };
  const std::vector<ReportRow> rows = {
      insert(a, RowValue::Text("x")),
      insert(a, RowValue::Text("y';),(z")),
      insert(b, RowValue::Integer(-1)),
      ReportRow{RowAction::Update, "t", b, a, {RowValue::Null(), RowValue::Text("x")}, nullptr},
      insert(b, RowValue::Integer(3)),
      insert(b, RowValue::Null()),
  };
  EXPECT_EQ(MergedLiteralStatements(rows), (std::vector<std::string>{
                                               "insert into t (a) values ('x'), ('y'';),(z')",
                                               "insert into t (b) values (-1)",
                                               "update t set b = NULL where a = 'x'",
                                               "insert into t (b) values (3), (NULL)",
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
