#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "reports/report_tables.hpp"

namespace cuserver {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// A column a writer fills that its family does not list is missing from the
// report of it; a writer naming another table writes where no report reads.
TEST(ReportTables, EveryWriterWritesColumnsOfItsFamilyIntoItsTable) {
  const std::pair<const RowShape*, ReportFamily> writers[] = {
      {&report_rows::kMileage, ReportFamily::VehicleDistance},
      {&report_rows::kRoadSpeeding, ReportFamily::SpeedAlarm},
      {&report_rows::kAreaSpeeding, ReportFamily::SpeedAlarm},
      {&report_rows::kParking, ReportFamily::ParkingLog},
      {&report_rows::kFatigue, ReportFamily::TiredDriver},
      {&report_rows::kLostContact, ReportFamily::ContactAlarm},
      {&report_rows::kLineAlarmOpen, ReportFamily::LineAlarm},
      {&report_rows::kLineAlarmClose, ReportFamily::LineAlarm},
  };
  for (const auto& [shape, family] : writers) {
    const ReportTableFamily& table = TableFamily(family);
    std::vector<std::string> listed{Upper(table.simIdColumn)};
    for (std::string_view column : table.columns) listed.push_back(Upper(column));
    std::vector<std::string_view> written(shape->columns.begin(), shape->columns.end());
    written.insert(written.end(), shape->keyColumns.begin(), shape->keyColumns.end());
    for (std::string_view column : written) {
      EXPECT_NE(std::find(listed.begin(), listed.end(), Upper(column)), listed.end()) << table.name << " " << column;
    }
    // A monthly table is handed to the writer; a fixed one is in its statement.
    EXPECT_EQ(shape->namesTable, table.monthly) << table.name;
    if (!table.monthly) {
      EXPECT_NE(shape->statementTemplate.find(" " + std::string(table.name)), std::string_view::npos) << table.name;
    }
  }
}

}  // namespace
}  // namespace cuserver
