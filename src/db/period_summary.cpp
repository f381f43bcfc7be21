#include "db/period_summary.hpp"

#include <charconv>
#include <cmath>
#include <map>
#include <utility>

#include <fmt/format.h>

#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/report_sql.hpp"
#include "reports/report_tables.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

double NumberOrZero(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && std::isfinite(value) ? value : 0;
}

std::int64_t WholeOf(const std::string& text) { return std::llround(NumberOrZero(text)); }

// (SIMID, yyyy-mm-dd) -> the vehicle's figures of the day.
using Cells = std::map<std::pair<std::string, std::string>, SummaryFigures>;

// What one family's rows of a vehicle-day add to its figures: the row count
// and the sum of one value ("" when there is none).
struct FamilySum {
  ReportFamily family;
  std::string sum;  // SQL over the alias t
  void (*add)(SummaryFigures& figures, std::int64_t rows, const std::string& sum, const std::string& withFixes);
};

// Reads one family's rows of the period grouped by vehicle and day into the cells.
void ReadFamily(ReportDatabase& db, const SummaryQuery& query, const FamilySum& family, Cells& cells) {
  const ReportTableFamily& table = TableFamily(family.family);
  std::vector<std::string> names;
  if (table.monthly) {
    for (year_month_day month : MonthsOf(query.from, query.to)) {
      names.push_back(fmt::format("{}{:04}{:02}", table.name, static_cast<int>(month.year()),
                                  static_cast<unsigned>(month.month())));
    }
  } else {
    names.emplace_back(table.name);
  }
  // Per vehicle, a vehicle's rows are summed whatever their day; the day
  // matters to the days with fixes (mileage) and to a summary per day.
  const bool byDay = family.family == ReportFamily::VehicleDistance || query.per == SummaryPer::Day;
  const std::string day = byDay ? DayOfTimeSql(db, fmt::format("t.{}", table.timeColumn)) : "''";
  // A vehicle without fixes gets a mileage row of the whole day, from
  // 00:01:00 to 23:59:59, and no other vehicle does.
  const std::string withFixes = family.family == ReportFamily::VehicleDistance
                                    ? "sum(case when t.BEGINTIME like '% 00:01:00' and t.ENDTIME like '% 23:59:59' "
                                      "then 0 else 1 end)"
                                    : "0";
  for (const std::string& name : names) {
    if (!IsPlainTableName(name) || !TableExists(db, name)) continue;
    // The SIMID as the table holds it (its text is the catalogue's), grouped
    // without a cast so that the (SIMID, time) index serves the grouping.
    const BoundSql where =
        WhereOfDays(db, table.timeColumn, query.from, query.to, query.simId, PeriodRead::WholeTable);
    auto cursor = db.OpenQuery(fmt::format(
        "select t.SIMID as s, {0} as d, count(*) as n, {1} as v, {2} as f from {3} t{4} group by t.SIMID{5}", day,
        family.sum.empty() ? "0" : "sum(" + family.sum + ")", withFixes, name,
        where.text, byDay ? ", " + day : ""),
        where.values);
    std::string vehicle, date, rows, sum, fixes;
    for (; !cursor->AtEnd(); cursor->Next()) {
      cursor->ValueInto("s", vehicle);
      cursor->ValueInto("d", date);
      cursor->ValueInto("n", rows);
      cursor->ValueInto("v", sum);
      cursor->ValueInto("f", fixes);
      family.add(cells[{vehicle, date}], WholeOf(rows), sum, fixes);
    }
    cursor->Close();
  }
}

void ReadQuality(ReportDatabase& db, const SummaryQuery& query, Cells& cells) {
  if (!TableExists(db, "cuserver_vehicle_days")) return;
  for (auto& [simId, day, quality] : Ledger(db).PeriodQuality(DayKeyOf(query.from), DayKeyOf(query.to))) {
    if (!query.simId.empty() && simId != query.simId) continue;
    const std::string date = fmt::format("{}-{}-{}", day.substr(0, 4), day.substr(4, 2), day.substr(6, 2));
    cells[{simId, date}].quality = quality;
  }
}

}  // namespace

void SummaryFigures::Add(const SummaryFigures& other) {
  vehicles += other.vehicles;
  days += other.days;
  kilometres += other.kilometres;
  speeding += other.speeding;
  speedingSeconds += other.speedingSeconds;
  parking += other.parking;
  parkingSeconds += other.parkingSeconds;
  fatigue += other.fatigue;
  lostContact += other.lostContact;
  quality.Add(other.quality);
}

std::string_view SummaryPerName(SummaryPer per) {
  switch (per) {
    case SummaryPer::Vehicle: return "vehicle";
    case SummaryPer::Day: return "day";
    case SummaryPer::Fleet: return "fleet";
  }
  return "vehicle";
}

std::optional<SummaryPer> ParseSummaryPer(std::string_view name) {
  for (SummaryPer per : {SummaryPer::Vehicle, SummaryPer::Day, SummaryPer::Fleet}) {
    if (SummaryPerName(per) == name) return per;
  }
  return std::nullopt;
}

PeriodSummary ReadPeriodSummary(ReportDatabase& db, const SummaryQuery& query) {
  static const FamilySum kFamilies[] = {
      {ReportFamily::VehicleDistance, "t.DISTANCE",
       [](SummaryFigures& f, std::int64_t, const std::string& sum, const std::string& withFixes) {
         f.kilometres += NumberOrZero(sum);
         if (WholeOf(withFixes) > 0) f.days = f.vehicles = 1;
       }},
      {ReportFamily::SpeedAlarm, "t.TOTTIME",
       [](SummaryFigures& f, std::int64_t rows, const std::string& sum, const std::string&) {
         f.speeding += rows;
         f.speedingSeconds += WholeOf(sum);
       }},
      {ReportFamily::ParkingLog, "",
       [](SummaryFigures& f, std::int64_t rows, const std::string& sum, const std::string&) {
         f.parking += rows;
         f.parkingSeconds += WholeOf(sum);
       }},
      {ReportFamily::TiredDriver, "",
       [](SummaryFigures& f, std::int64_t rows, const std::string&, const std::string&) { f.fatigue += rows; }},
      {ReportFamily::ContactAlarm, "",
       [](SummaryFigures& f, std::int64_t rows, const std::string&, const std::string&) { f.lostContact += rows; }},
  };
  Cells cells;
  for (FamilySum family : kFamilies) {
    if (family.family == ReportFamily::ParkingLog) family.sum = SecondsBetweenSql(db, "t.BEGINTIME", "t.ENDTIME");
    ReadFamily(db, query, family, cells);
  }
  ReadQuality(db, query, cells);

  const CatalogueNames names = ReadCatalogueNames(db);
  const RowFilter filter(query.filter);
  std::map<std::string, SummaryRow> vehicles;
  std::map<std::string, SummaryRow> byDay;
  for (year_month_day day = query.from; sys_days{day} <= sys_days{query.to}; day = sys_days{day} + days{1}) {
    byDay[DayKeyOf(day)].day = DayKeyOf(day);
  }
  for (const auto& [key, figures] : cells) {
    const auto& [simId, date] = key;
    const auto name = names.find(simId);
    const std::string& plate = name == names.end() ? std::string() : name->second.first;
    const std::string& fleet = name == names.end() ? std::string() : name->second.second;
    if (!filter.Matches({simId, plate, fleet})) continue;
    SummaryRow& vehicle = vehicles[simId];
    if (vehicle.simId.empty()) vehicle = {simId, plate, fleet, {}, {}};
    const std::int64_t hadFixes = vehicle.figures.vehicles;
    vehicle.figures.Add(figures);
    vehicle.figures.vehicles = hadFixes | figures.vehicles;
    const std::string dayKey = date.size() == 10 ? date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2) : date;
    if (auto day = byDay.find(dayKey); day != byDay.end()) day->second.figures.Add(figures);
  }

  PeriodSummary summary;
  for (const auto& [simId, row] : vehicles) summary.totals.Add(row.figures);
  if (query.per == SummaryPer::Vehicle) {
    for (auto& [simId, row] : vehicles) summary.rows.push_back(std::move(row));
  } else if (query.per == SummaryPer::Day) {
    for (auto& [day, row] : byDay) summary.rows.push_back(std::move(row));
  } else {
    std::map<std::string, SummaryRow> fleets;
    for (const auto& [simId, row] : vehicles) {
      SummaryRow& fleet = fleets[row.fleet];
      fleet.fleet = row.fleet;
      fleet.figures.Add(row.figures);
    }
    for (auto& [name, row] : fleets) summary.rows.push_back(std::move(row));
  }
  return summary;
}

std::vector<std::pair<std::string_view, double>> SummaryCounts(const SummaryFigures& f) {
  return {{"kilometres", std::round(f.kilometres * 100) / 100},
          {"speeding", static_cast<double>(f.speeding)},
          {"speedingSeconds", static_cast<double>(f.speedingSeconds)},
          {"parking", static_cast<double>(f.parking)},
          {"parkingSeconds", static_cast<double>(f.parkingSeconds)},
          {"fatigue", static_cast<double>(f.fatigue)},
          {"lostContact", static_cast<double>(f.lostContact)},
          {"fixes", f.quality.fixes},
          {"withoutPosition", f.quality.withoutPosition},
          {"otherDay", f.quality.otherDay},
          {"sameTime", f.quality.sameTime},
          {"backwards", f.quality.backwards},
          {"jumps", f.quality.jumps}};
}

std::vector<std::string> SummaryColumns(const SummaryQuery& query) {
  std::vector<std::string> columns;
  switch (query.per) {
    case SummaryPer::Vehicle: columns = {"SIMID", "LICENSEPLATE", "MOTORCADENAME", "days"}; break;
    case SummaryPer::Day: columns = {"day"}; break;
    case SummaryPer::Fleet: columns = {"MOTORCADENAME", "vehicles"}; break;
  }
  if (query.per == SummaryPer::Day && query.simId.empty()) columns.emplace_back("vehicles");
  for (const auto& [name, value] : SummaryCounts({})) columns.emplace_back(name);
  return columns;
}

std::vector<std::string> SummaryRowValues(const SummaryRow& row, const SummaryQuery& query) {
  const SummaryFigures& f = row.figures;
  std::vector<std::string> values;
  switch (query.per) {
    case SummaryPer::Vehicle: values = {row.simId, row.licensePlate, row.fleet, std::to_string(f.days)}; break;
    case SummaryPer::Day: values = {row.day}; break;
    case SummaryPer::Fleet: values = {row.fleet, std::to_string(f.vehicles)}; break;
  }
  if (query.per == SummaryPer::Day && query.simId.empty()) values.push_back(std::to_string(f.vehicles));
  for (const auto& [name, value] : SummaryCounts(f)) {
    values.push_back(name == "kilometres" ? fmt::format("{:.2f}", value) : fmt::format("{}", std::llround(value)));
  }
  return values;
}

}  // namespace cuserver
