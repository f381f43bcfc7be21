#pragma once

// The pieces of SQL and the catalogue lookups the report readers share: a
// report table's SIMID and times compared alike on every backend, and the
// catalogue's names of a vehicle.

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/session.hpp"

namespace cuserver {

// A report's SIMID is a number column in some tables and text in others, the
// catalogue's always text: compared as text, the same on every backend.
std::string SimIdText(ReportDatabase& db, std::string_view alias = "t");

// The day's DayKey, yyyymmdd.
std::string DayKeyOf(std::chrono::year_month_day day);

// "yyyy-mm-dd 00:00:00" of the day.
std::string DayStartText(std::chrono::year_month_day day);

// How a query reads the period's rows: a few of them through the time
// column's index, or most of the table in one pass.
enum class PeriodRead { ByIndex, WholeTable };

// A condition and the values its `?` take (ReportDatabase::OpenQuery).
struct BoundSql {
  std::string text;
  std::vector<std::string> values;
};

// " where t.<timeColumn> >= '<from> 00:00:00' and t.<timeColumn> < '<to + 1 day> 00:00:00'", and the
// SIMID when one is given, bound. Text "yyyy-mm-dd hh:mi:ss" compares in time order,
// PostgreSQL and MySQL take the literals as timestamps, and Oracle as dates
// under the session's NLS_DATE_FORMAT.
BoundSql WhereOfDays(ReportDatabase& db, std::string_view timeColumn, std::chrono::year_month_day from,
                        std::chrono::year_month_day to, const std::string& simId,
                        PeriodRead read = PeriodRead::ByIndex);

// The yyyy-mm-dd of a time column, whether it holds text or a date.
std::string DayOfTimeSql(ReportDatabase& db, std::string_view column);

// The seconds from one date column to another (a parking stop's length).
std::string SecondsBetweenSql(ReportDatabase& db, std::string_view begin, std::string_view end);

// The months from..to touches, as their first days.
std::vector<std::chrono::year_month_day> MonthsOf(std::chrono::year_month_day from, std::chrono::year_month_day to);

// The catalogue's licence plate and fleet by SIMID (its first listing of each).
using CatalogueNames = std::map<std::string, std::pair<std::string, std::string>>;
CatalogueNames ReadCatalogueNames(ReportDatabase& db);

// What an operator types to choose rows: terms apart by spaces or commas
// (ASCII or Chinese), a row matching when any of its texts holds any term,
// ASCII case folded. No term matches everything.
class RowFilter {
 public:
  explicit RowFilter(std::string_view text);
  bool Empty() const { return terms_.empty(); }
  bool Matches(std::initializer_list<std::string_view> texts) const;

 private:
  std::vector<std::string> terms_;
};

}  // namespace cuserver
