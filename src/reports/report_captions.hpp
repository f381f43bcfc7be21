#pragma once

// How an operator sees the report tables: each family's name as the control
// page's tab shows it, and each column's caption and what its values are.
// The files an operator takes away (CSV, XLSX) read them from here; the
// control page keeps its own copy in web/reports.js, which must say the same.

#include <optional>
#include <string_view>

#include "reports/report_tables.hpp"

namespace cuserver {

enum class ColumnValue {
  Text,
  Number,      // a count, kilometres, km/h
  Time,        // "yyyy-mm-dd hh:mm:ss"
  Seconds,     // a duration in seconds
  Coordinate,  // degrees
};

struct ReportColumnLook {
  std::string_view caption;
  ColumnValue value = ColumnValue::Text;
  std::string_view hoursCaption;  // Seconds: the caption of the same duration as hours and minutes
};

// The tab's name of a family's report (里程, 超速, 停车, ...).
std::string_view FamilyTitle(ReportFamily family);
// The tab's name of the track quality a day run counts.
inline constexpr std::string_view kQualityTitle = "数据质量";
// The tab's name of a period's summary.
inline constexpr std::string_view kSummaryTitle = "汇总";

// A column as the report reader names it (SIMID, LICENSEPLATE, MOTORCADENAME,
// a table's own column, a quality count); family is the table it comes from,
// nullopt for the quality counts and a summary's figures (db/period_summary).
// An unknown column is text under its name.
ReportColumnLook ColumnLook(std::string_view column, std::optional<ReportFamily> family);

}  // namespace cuserver
