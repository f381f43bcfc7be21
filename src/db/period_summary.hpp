#pragma once

// A period's reports at a glance: each vehicle's (or day's, or fleet's)
// mileage, speeding, parking, fatigue and lost contact summed over the days
// from..to, read from the stored report rows without reading them one by one.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/session.hpp"
#include "reports/track_quality.hpp"

namespace cuserver {

enum class SummaryPer { Vehicle, Day, Fleet };

// "vehicle", "day", "fleet"
std::string_view SummaryPerName(SummaryPer per);
std::optional<SummaryPer> ParseSummaryPer(std::string_view name);

struct SummaryQuery {
  std::chrono::year_month_day from;
  std::chrono::year_month_day to;
  SummaryPer per = SummaryPer::Vehicle;
  std::string simId;   // empty: every vehicle
  std::string filter;  // terms the SIMID, plate or fleet must hold one of (RowFilter)
};

struct SummaryFigures {
  std::int64_t vehicles = 0;     // vehicles with fixes on at least one of the days
  std::int64_t days = 0;         // vehicle-days with fixes
  double kilometres = 0;         // the mileage rows' distances summed
  std::int64_t speeding = 0;     // speeding episodes
  std::int64_t speedingSeconds = 0;
  std::int64_t parking = 0;      // stops
  std::int64_t parkingSeconds = 0;
  std::int64_t fatigue = 0;
  std::int64_t lostContact = 0;
  TrackQuality quality;          // the day runs' counts of the vehicles' fixes

  void Add(const SummaryFigures& other);
};

// One row: a vehicle (its SIMID, plate and fleet), a day (its DayKey) or a
// fleet (its name; empty for vehicles the catalogue puts in none).
struct SummaryRow {
  std::string simId;
  std::string licensePlate;
  std::string fleet;
  std::string day;
  SummaryFigures figures;
};

struct PeriodSummary {
  std::vector<SummaryRow> rows;  // by SIMID, day or fleet
  SummaryFigures totals;         // of every row
};

// Vehicles that have rows of any kind in the period are listed, those with
// none are not; a day without rows is listed per day. Throws DatabaseError
// when a query fails on a table that exists.
PeriodSummary ReadPeriodSummary(ReportDatabase& db, const SummaryQuery& query);

// A row's figures after its count of days or vehicles, by the name the
// answers and the files give them, in the files' column order: kilometres
// (rounded to 0.01), speeding, speedingSeconds, parking, parkingSeconds, fatigue,
// lostContact, and the quality counts fixes ... jumps.
std::vector<std::pair<std::string_view, double>> SummaryCounts(const SummaryFigures& figures);

// The columns of a summary as files show them, and each row's values in
// their order; one vehicle's days have no count of vehicles.
std::vector<std::string> SummaryColumns(const SummaryQuery& query);
std::vector<std::string> SummaryRowValues(const SummaryRow& row, const SummaryQuery& query);

}  // namespace cuserver
