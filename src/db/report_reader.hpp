#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/session.hpp"
#include "reports/report_captions.hpp"

namespace cuserver {

// The report families an operator reads back, one table family each, and
// the track quality a day run counts into the day ledger; and a period's
// summary of them (db/period_summary.hpp), which is no table's.
enum class ReportKind { Mileage, Speeding, Parking, Fatigue, LostContact, LineAlarms, Quality, Summary };

// Every kind of rows, in the order a day run writes them (not the summary).
const std::vector<ReportKind>& AllReportKinds();
// mileage, speeding, parking, fatigue, lostcontact, linealarms, quality; summary
std::string_view ReportKindName(ReportKind kind);
// A kind of rows by its name (not the summary).
std::optional<ReportKind> ParseReportKind(std::string_view name);

// The table holding a kind's rows of a day: the month's table for mileage,
// speeding and parking, the one shared table for the others (the ledger's
// cuserver_vehicle_days for quality).
std::string ReportTableName(ReportKind kind, std::chrono::year_month_day day);

struct ReportQuery {
  std::chrono::year_month_day day;    // the day, or the period's first day
  ReportKind kind = ReportKind::Mileage;
  std::string simId;                  // empty: every vehicle
  std::size_t offset = 0;             // rows skipped, after the filter and the order
  std::optional<std::size_t> limit;   // rows returned at most; nullopt: all
  std::string filter;                 // only rows whose SIMID, plate or fleet holds one of its terms (RowFilter)
  std::string sortColumn;             // one of ReportColumns(kind); empty: SIMID, then time
  bool descending = false;
  bool flaggedOnly = false;           // quality: only vehicles with a count above 0 (TrackQuality::Any)
  std::optional<std::chrono::year_month_day> to = std::nullopt;  // the period's last day; nullopt: the day alone
};

// The columns of a kind's rows as ReadReportRows returns them: SIMID,
// LICENSEPLATE, MOTORCADENAME, then the table's own; for quality SIMID, fixes,
// withoutPosition, otherDay, sameTime, backwards, jumps.
std::vector<std::string> ReportColumns(ReportKind kind);

// How the files an operator takes away show a kind's columns, in their order.
std::vector<ReportColumnLook> ReportColumnLooks(ReportKind kind, const std::vector<std::string>& columns);
// The kind's name as the control page's tab shows it (里程, 超速, ..., 汇总).
std::string_view ReportKindTitle(ReportKind kind);

// One page of a day's report rows: values as stored (NULL as empty text),
// with the vehicle's licence plate and fleet from the catalogue (empty for a
// vehicle it does not know).
struct ReportPage {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
  std::size_t total = 0;  // rows of the day (vehicle, filter), whatever the page
  bool tableMissing = false;  // the table does not exist: no row was ever written to it
};

// What the operator is shown for a report table that does not exist.
inline constexpr std::string_view kNoSuchTable = "没有这张表";

// Reads the rows whose begin time falls on the day (or in the period), ordered by SIMID and
// time, or by the sort column (numbers as numbers when all of the column's
// non-empty values are numbers, else as text; ties keep SIMID and time
// order). A table that does not exist reads as no rows, with tableMissing
// set. Throws DatabaseError
// when a query fails on a table that exists.
// Quality rows are the day run's vehicle-days that counted their track, by
// SIMID (over a period, each vehicle's counts summed); the filter still
// matches the catalogue's plate and fleet. A period's rows are read from
// each month's table in turn.
ReportPage ReadReportRows(ReportDatabase& db, const ReportQuery& query);

// A day at a glance: the rows of each kind, and the fleet's figures.
struct ReportSummary {
  // Every kind, in AllReportKinds() order; for quality the vehicles with a count above 0.
  std::vector<std::pair<ReportKind, std::size_t>> rows;
  std::size_t vehicles = 0;  // vehicles with fixes: mileage rows other than a day without fixes
  double kilometres = 0;     // the mileage rows' distances summed
};

ReportSummary ReadReportSummary(ReportDatabase& db, std::chrono::year_month_day day);

}  // namespace cuserver
