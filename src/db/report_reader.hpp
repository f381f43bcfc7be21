#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/session.hpp"

namespace cuserver {

// The report families an operator reads back, one table family each.
enum class ReportKind { Mileage, Speeding, Parking, Fatigue, LostContact, LineAlarms };

// Every kind, in the order a day run writes them.
const std::vector<ReportKind>& AllReportKinds();
// mileage, speeding, parking, fatigue, lostcontact, linealarms
std::string_view ReportKindName(ReportKind kind);
std::optional<ReportKind> ParseReportKind(std::string_view name);

// The table holding a kind's rows of a day: the month's table for mileage,
// speeding and parking, the one shared table for the others.
std::string ReportTableName(ReportKind kind, std::chrono::year_month_day day);

struct ReportQuery {
  std::chrono::year_month_day day;
  ReportKind kind = ReportKind::Mileage;
  std::string simId;                  // empty: every vehicle
  std::size_t offset = 0;             // rows skipped, in SIMID and time order
  std::optional<std::size_t> limit;   // rows returned at most; nullopt: all
};

// One page of a day's report rows: values as stored (NULL as empty text),
// with the vehicle's licence plate and fleet from the catalogue (empty for a
// vehicle it does not know).
struct ReportPage {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
  std::size_t total = 0;  // rows of the day (and vehicle), whatever the page
};

// Reads the rows whose begin time falls on the day, ordered by SIMID and
// time. A table that does not exist reads as no rows. Throws DatabaseError
// when a query fails on a table that exists.
ReportPage ReadReportRows(ReportDatabase& db, const ReportQuery& query);

}  // namespace cuserver
