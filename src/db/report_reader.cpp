#include "db/report_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <set>
#include <stdexcept>

#include <fmt/format.h>

#include "db/dialect.hpp"
#include "db/ledger.hpp"
#include "db/report_sql.hpp"
#include "db/value_text.hpp"
#include "reports/report_captions.hpp"
#include "reports/report_tables.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

struct KindTable {
  ReportKind kind;
  std::string_view name;
  std::string_view tableFamily;
  bool monthly;
  std::string_view timeColumn;
  std::vector<std::string_view> columns;  // after SIMID; the time column among them
  std::optional<ReportFamily> family;       // nullopt: the quality counts
};

// A kind read from a report table family: its table, monthly or not, its
// time column and its columns as the catalogue of the report tables has them.
KindTable OfFamily(ReportKind kind, std::string_view name, ReportFamily family) {
  const ReportTableFamily& table = TableFamily(family);
  return {kind, name, table.name, table.monthly, table.timeColumn,
          {table.columns.begin(), table.columns.end()}, family};
}

const std::array<KindTable, 7>& KindTables() {
  static const std::array<KindTable, 7> tables{{
      OfFamily(ReportKind::Mileage, "mileage", ReportFamily::VehicleDistance),
      OfFamily(ReportKind::Speeding, "speeding", ReportFamily::SpeedAlarm),
      OfFamily(ReportKind::Parking, "parking", ReportFamily::ParkingLog),
      OfFamily(ReportKind::Fatigue, "fatigue", ReportFamily::TiredDriver),
      OfFamily(ReportKind::LostContact, "lostcontact", ReportFamily::ContactAlarm),
      OfFamily(ReportKind::LineAlarms, "linealarms", ReportFamily::LineAlarm),
      {ReportKind::Quality, "quality", "cuserver_vehicle_days", false, "",
       {"fixes", "withoutPosition", "otherDay", "sameTime", "backwards", "jumps"},
       std::nullopt},
  }};
  return tables;
}

const KindTable& TableOf(ReportKind kind) {
  for (const KindTable& table : KindTables()) {
    if (table.kind == kind) return table;
  }
  return KindTables().front();
}

std::optional<double> NumberOf(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

using Rows = std::vector<std::vector<std::string>>;

// A stable sort on one column: rows equal in it stay in SIMID and time order,
// whichever the direction. Empty values come first going up.
void SortRows(Rows& rows, std::size_t column, bool descending) {
  std::vector<std::optional<double>> numbers(rows.size());
  bool numeric = true;
  for (std::size_t i = 0; i < rows.size() && numeric; ++i) {
    if (rows[i][column].empty()) continue;
    numbers[i] = NumberOf(rows[i][column]);
    numeric = numbers[i].has_value();
  }
  auto less = [&](std::size_t a, std::size_t b) {
    if (!numeric) return rows[a][column] < rows[b][column];
    if (!numbers[a] || !numbers[b]) return !numbers[a] && numbers[b];
    return *numbers[a] < *numbers[b];
  };
  std::vector<std::size_t> order(rows.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Ties keep SIMID, then time, then the rest of the row in order: rows of
  // one vehicle and time come from some databases (MySQL) in any order, and
  // each page must cut the same order.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (descending ? less(b, a) : less(a, b)) return true;
    if (descending ? less(a, b) : less(b, a)) return false;
    return rows[a] < rows[b];
  });
  Rows sorted;
  sorted.reserve(rows.size());
  for (std::size_t i : order) sorted.push_back(std::move(rows[i]));
  rows = std::move(sorted);
}


// Rows of a page from the day's rows as [SIMID, plate, fleet, ...]: the
// filter and the sort column as for the report tables.
void FilterSortAndPage(Rows& rows, const ReportQuery& query, std::optional<std::size_t> sortIndex, ReportPage& page) {
  const RowFilter filter(query.filter);
  if (!filter.Empty()) {
    std::erase_if(rows, [&filter](const std::vector<std::string>& row) {
      return !filter.Matches({row.at(0), row.size() > 1 ? row[1] : "", row.size() > 2 ? row[2] : ""});
    });
  }
  if (sortIndex) SortRows(rows, *sortIndex, query.descending);
  page.total = rows.size();
  const std::size_t from = std::min(query.offset, rows.size());
  const std::size_t to = from + std::min(query.limit.value_or(SIZE_MAX), rows.size() - from);
  rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(to), rows.end());
  rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(from));
}

std::vector<std::pair<std::string, TrackQuality>> DayQualityOf(ReportDatabase& db, year_month_day day) {
  if (!TableExists(db, "cuserver_vehicle_days")) return {};
  return Ledger(db).DayQuality(DayKeyOf(day));
}

// Each vehicle's counts over the days, summed, by SIMID.
std::vector<std::pair<std::string, TrackQuality>> QualityOf(ReportDatabase& db, year_month_day from,
                                                            year_month_day to) {
  if (sys_days{from} == sys_days{to}) return DayQualityOf(db, from);
  if (!TableExists(db, "cuserver_vehicle_days")) return {};
  std::map<std::string, TrackQuality> sums;
  for (const auto& entry : Ledger(db).PeriodQuality(DayKeyOf(from), DayKeyOf(to))) sums[entry.simId].Add(entry.quality);
  return {sums.begin(), sums.end()};
}

year_month_day LastDay(const ReportQuery& query) { return query.to.value_or(query.day); }

// The day run's track quality of the day, one row per vehicle-day counted.
// Read whole: a day holds one entry per vehicle.
ReportPage ReadQualityRows(ReportDatabase& db, const ReportQuery& query, std::optional<std::size_t> sortIndex,
                           ReportPage page) {
  const auto vehicles = QualityOf(db, query.day, LastDay(query));
  const auto names = query.filter.empty() || vehicles.empty() ? CatalogueNames{} : ReadCatalogueNames(db);
  Rows rows;
  for (const auto& [simId, quality] : vehicles) {
    if (!query.simId.empty() && simId != query.simId) continue;
    if (query.flaggedOnly && !quality.Any()) continue;
    const auto name = names.find(simId);
    rows.push_back({simId, name == names.end() ? "" : name->second.first, name == names.end() ? "" : name->second.second,
                    std::to_string(quality.fixes), std::to_string(quality.withoutPosition),
                    std::to_string(quality.otherDay), std::to_string(quality.sameTime),
                    std::to_string(quality.backwards), std::to_string(quality.jumps)});
  }
  // Plate and fleet only serve the filter: the columns are the ledger's.
  if (sortIndex && *sortIndex > 0) *sortIndex += 2;
  FilterSortAndPage(rows, query, sortIndex, page);
  for (auto& row : rows) row.erase(row.begin() + 1, row.begin() + 3);
  page.rows = std::move(rows);
  return page;
}

// A report's SIMID, begin and end times and distance, as a mileage row holds them.
struct MileageCursorColumns {
  std::string simId, begin, end, distance;
};

}  // namespace

std::vector<std::string> ReportColumns(ReportKind kind) {
  std::vector<std::string> columns{"SIMID"};
  if (kind != ReportKind::Quality) columns.insert(columns.end(), {"LICENSEPLATE", "MOTORCADENAME"});
  for (std::string_view column : TableOf(kind).columns) columns.emplace_back(column);
  return columns;
}

std::vector<ReportColumnLook> ReportColumnLooks(ReportKind kind, const std::vector<std::string>& columns) {
  const std::optional<ReportFamily> family =
      kind == ReportKind::Summary ? std::nullopt : TableOf(kind).family;
  std::vector<ReportColumnLook> looks;
  for (const std::string& column : columns) looks.push_back(ColumnLook(column, family));
  return looks;
}

std::string_view ReportKindTitle(ReportKind kind) {
  if (kind == ReportKind::Summary) return kSummaryTitle;
  const std::optional<ReportFamily> family = TableOf(kind).family;
  return family ? FamilyTitle(*family) : kQualityTitle;
}

const std::vector<ReportKind>& AllReportKinds() {
  static const std::vector<ReportKind> kinds{ReportKind::Mileage, ReportKind::Speeding,    ReportKind::Parking,
                                             ReportKind::Fatigue, ReportKind::LostContact, ReportKind::LineAlarms,
                                             ReportKind::Quality};
  return kinds;
}

std::string_view ReportKindName(ReportKind kind) {
  return kind == ReportKind::Summary ? "summary" : TableOf(kind).name;
}

std::optional<ReportKind> ParseReportKind(std::string_view name) {
  for (const KindTable& table : KindTables()) {
    if (table.name == name) return table.kind;
  }
  return std::nullopt;
}

std::string ReportTableName(ReportKind kind, year_month_day day) {
  const KindTable& table = TableOf(kind);
  if (!table.monthly) return std::string(table.tableFamily);
  return fmt::format("{}{:04}{:02}", table.tableFamily, static_cast<int>(day.year()),
                     static_cast<unsigned>(day.month()));
}

ReportPage ReadReportRows(ReportDatabase& db, const ReportQuery& query) {
  if (query.kind == ReportKind::Summary) throw std::invalid_argument("a summary is read by ReadPeriodSummary");
  const KindTable& table = TableOf(query.kind);
  ReportPage page;
  page.table = ReportTableName(query.kind, query.day);
  page.columns = ReportColumns(query.kind);
  std::optional<std::size_t> sortIndex;
  if (!query.sortColumn.empty()) {
    const auto found = std::find(page.columns.begin(), page.columns.end(), query.sortColumn);
    if (found == page.columns.end()) throw std::invalid_argument("no report column " + query.sortColumn);
    sortIndex = static_cast<std::size_t>(found - page.columns.begin());
  }
  if (query.kind == ReportKind::Quality) return ReadQualityRows(db, query, sortIndex, std::move(page));

  // The tables of the day or the period that exist: a month without one has no rows.
  std::vector<std::string> tables;
  for (year_month_day month : table.monthly ? MonthsOf(query.day, LastDay(query)) : std::vector{query.day}) {
    std::string name = ReportTableName(query.kind, month);
    if (IsPlainTableName(name) && TableExists(db, name)) tables.push_back(std::move(name));
  }
  if (tables.empty()) {
    page.tableMissing = true;
    return page;
  }
  page.table = tables.size() == 1 ? tables.front() : fmt::format("{}…{}", tables.front(), tables.back());

  const BoundSql where = WhereOfDays(db, table.timeColumn, query.day, LastDay(query), query.simId);
  // Filtered or sorted, the rows are all read and ordered here: a day's rows
  // are few, and every backend then filters and sorts alike.
  const bool whole = !query.filter.empty() || sortIndex;
  std::vector<std::size_t> counts(tables.size(), SIZE_MAX);
  if (!whole) {
    for (std::size_t i = 0; i < tables.size(); ++i) {
      auto count = db.OpenQuery(fmt::format("select count(*) as n from {} t{}", tables[i], where.text), where.values);
      counts[i] = count->AtEnd() ? 0 : std::stoul(count->Value("n").value_or("0"));
      count->Close();
      page.total += counts[i];
    }
    if (query.limit && *query.limit == 0) return page;
  }

  // Every column under an alias of its own: SIMID is in both tables.
  const std::string simIdText = SimIdText(db);
  std::string select = fmt::format("select {} as c0, v.licenseplate as c1, m.motorcadename as c2", simIdText);
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    select += fmt::format(", t.{} as c{}", table.columns[i], i + 3);
  }
  std::vector<std::string> aliases;
  for (std::size_t i = 0; i < page.columns.size(); ++i) aliases.push_back(fmt::format("c{}", i));
  // Paged here rather than in SQL: Oracle before 12c has no OFFSET, and a
  // day's rows are few. A period's months come in turn, each in SIMID and
  // time order.
  std::size_t skip = whole ? 0 : query.offset;
  const std::size_t limit = whole || !query.limit ? SIZE_MAX : *query.limit;
  for (std::size_t i = 0; i < tables.size() && page.rows.size() < limit; ++i) {
    if (skip >= counts[i] && counts[i] != SIZE_MAX) {
      skip -= counts[i];
      continue;
    }
    auto cursor = db.OpenQuery(fmt::format(
        "{} from {} t left join vehicleinfo v on v.simid = {} left join motorcade m on m.motorcadeid = v.motorcadeid"
        "{} order by {}, t.{}",
        select, tables[i], simIdText, where.text, simIdText, table.timeColumn),
        where.values);
    for (; !cursor->AtEnd() && skip > 0; --skip) cursor->Next();
    for (; !cursor->AtEnd() && page.rows.size() < limit; cursor->Next()) {
      std::vector<std::string> row(aliases.size());
      for (std::size_t c = 0; c < aliases.size(); ++c) cursor->ValueInto(aliases[c], row[c]);
      page.rows.push_back(std::move(row));
    }
    cursor->Close();
  }
  if (!whole) return page;

  FilterSortAndPage(page.rows, query, sortIndex, page);
  return page;
}

ReportSummary ReadReportSummary(ReportDatabase& db, year_month_day day) {
  ReportSummary summary;
  for (ReportKind kind : AllReportKinds()) {
    if (kind == ReportKind::Quality) {
      const auto vehicles = DayQualityOf(db, day);
      summary.rows.emplace_back(kind, static_cast<std::size_t>(std::count_if(
                                          vehicles.begin(), vehicles.end(),
                                          [](const auto& vehicle) { return vehicle.second.Any(); })));
      continue;
    }
    const KindTable& table = TableOf(kind);
    const std::string name = ReportTableName(kind, day);
    std::size_t rows = 0;
    if (IsPlainTableName(name) && TableExists(db, name)) {
      auto count = db.OpenQuery(
          fmt::format("select count(*) as n from {} t{}", name, WhereOfDays(db, table.timeColumn, day, day, {}).text));
      if (!count->AtEnd()) rows = std::stoul(count->Value("n").value_or("0"));
    }
    summary.rows.emplace_back(kind, rows);
  }

  // A vehicle without fixes gets a mileage row of the whole day, from
  // 00:01:00 to 23:59:59, and no other vehicle does.
  const std::string mileage = ReportTableName(ReportKind::Mileage, day);
  if (!IsPlainTableName(mileage) || !TableExists(db, mileage)) return summary;
  const std::string date = DayStartText(day).substr(0, 10);
  auto cursor = db.OpenQuery(fmt::format("select {} as simid, t.BEGINTIME as b, t.ENDTIME as e, t.DISTANCE as d from {} t{}",
                                         SimIdText(db), mileage, WhereOfDays(db, "BEGINTIME", day, day, {}).text));
  std::set<std::string> vehicles;
  MileageCursorColumns row;
  for (; !cursor->AtEnd(); cursor->Next()) {
    cursor->ValueInto("simid", row.simId);
    cursor->ValueInto("b", row.begin);
    cursor->ValueInto("e", row.end);
    cursor->ValueInto("d", row.distance);
    if (const auto kilometres = NumberOf(row.distance)) summary.kilometres += *kilometres;
    if (row.begin.starts_with(date + " 00:01:00") && row.end.starts_with(date + " 23:59:59")) continue;
    vehicles.insert(row.simId);
  }
  summary.vehicles = vehicles.size();
  return summary;
}

}  // namespace cuserver
