#include "db/ledger.hpp"

#include <fmt/format.h>

#include "db/ledger_internal.hpp"
#include "reports/sql_text.hpp"

namespace cuserver {
namespace {

using ledger_internal::IntOf;
using ledger_internal::TextOf;

constexpr std::string_view kVehicleDayKey[] = {"command", "day", "simid"};
constexpr std::string_view kVehicleDayColumns[] = {"command", "day", "simid", "rows_written", "row_images"};
constexpr std::string_view kVehicleDayQualityColumns[] = {
    "command", "day",  "simid", "rows_written", "row_images", "fixes", "without_position",
    "other_day", "same_time", "backwards", "jumps"};

}  // namespace

std::map<std::string, std::string> Ledger::VehicleDayRows(std::string_view command, std::string_view day) {
  std::map<std::string, std::string> rows;
  auto cursor = db_.OpenQuery(
      fmt::format("select simid, row_images from cuserver_vehicle_days where command={} and day={}", SqlLiteral(command),
                  SqlLiteral(day)));
  std::string simId;
  std::string images;
  for (; !cursor->AtEnd(); cursor->Next()) {
    cursor->ValueInto("simid", simId);
    cursor->ValueInto("row_images", images);
    rows[simId] = images;
  }
  cursor->Close();
  return rows;
}

std::optional<std::string> Ledger::VehicleDayEntry(std::string_view command, std::string_view day,
                                                   std::string_view simId) {
  auto cursor = db_.OpenQuery(fmt::format(
      "select row_images from cuserver_vehicle_days where command={} and day={} and simid={}", SqlLiteral(command),
      SqlLiteral(day), SqlLiteral(simId)));
  std::optional<std::string> entry;
  if (!cursor->AtEnd()) {
    std::string images;
    cursor->ValueInto("row_images", images);
    entry = std::move(images);
  }
  cursor->Close();
  return entry;
}

std::vector<ReportRow> Ledger::ReplaceVehicleDayRows(std::string_view command, std::string_view day,
                                                     std::string_view simId, int rows,
                                                     std::string_view serialisedRows, bool hadEntry,
                                                     const TrackQuality* quality) const {
  std::vector<ReportRow> statements;
  std::vector<RowValue> key{RowValue::Text(std::string(command)), RowValue::Text(std::string(day)),
                            RowValue::Text(std::string(simId))};
  if (hadEntry) statements.push_back(ReportRow{RowAction::Delete, "cuserver_vehicle_days", {}, kVehicleDayKey, key});
  std::vector<RowValue> values = std::move(key);
  values.push_back(RowValue::Integer(rows));
  values.push_back(RowValue::Text(std::string(serialisedRows)));
  if (quality == nullptr) {
    statements.push_back(ReportRow{RowAction::Insert, "cuserver_vehicle_days", kVehicleDayColumns, {}, std::move(values)});
    return statements;
  }
  for (const int count : {quality->fixes, quality->withoutPosition, quality->otherDay, quality->sameTime,
                          quality->backwards, quality->jumps}) {
    values.push_back(RowValue::Integer(count));
  }
  statements.push_back(
      ReportRow{RowAction::Insert, "cuserver_vehicle_days", kVehicleDayQualityColumns, {}, std::move(values)});
  return statements;
}

std::vector<std::pair<std::string, TrackQuality>> Ledger::DayQuality(std::string_view day) {
  std::vector<std::pair<std::string, TrackQuality>> vehicles;
  for (VehicleDayQuality& entry : PeriodQuality(day, day)) vehicles.emplace_back(std::move(entry.simId), entry.quality);
  return vehicles;
}

std::vector<Ledger::VehicleDayQuality> Ledger::PeriodQuality(std::string_view from, std::string_view to) {
  std::vector<VehicleDayQuality> vehicles;
  auto cursor = db_.OpenQuery(fmt::format(
      "select simid, day, fixes, without_position, other_day, same_time, backwards, jumps from cuserver_vehicle_days "
      "where command={} and day>={} and day<={} and fixes is not null order by day, simid",
      SqlLiteral(kDayRunCommand), SqlLiteral(from), SqlLiteral(to)));
  for (; !cursor->AtEnd(); cursor->Next()) {
    TrackQuality quality;
    quality.fixes = IntOf(cursor->Value("fixes"));
    quality.withoutPosition = IntOf(cursor->Value("without_position"));
    quality.otherDay = IntOf(cursor->Value("other_day"));
    quality.sameTime = IntOf(cursor->Value("same_time"));
    quality.backwards = IntOf(cursor->Value("backwards"));
    quality.jumps = IntOf(cursor->Value("jumps"));
    vehicles.push_back({TextOf(cursor->Value("simid")), TextOf(cursor->Value("day")), quality});
  }
  cursor->Close();
  return vehicles;
}

std::optional<TrackQuality> Ledger::DayQualityTotal(std::string_view day) {
  auto cursor = db_.OpenQuery(fmt::format(
      "select count(fixes) as n, sum(fixes) as fixes, sum(without_position) as without_position, "
      "sum(other_day) as other_day, sum(same_time) as same_time, sum(backwards) as backwards, sum(jumps) as jumps "
      "from cuserver_vehicle_days where command={} and day={}",
      SqlLiteral(kDayRunCommand), SqlLiteral(day)));
  std::optional<TrackQuality> total;
  if (!cursor->AtEnd() && IntOf(cursor->Value("n")) > 0) {
    total.emplace();
    total->fixes = IntOf(cursor->Value("fixes"));
    total->withoutPosition = IntOf(cursor->Value("without_position"));
    total->otherDay = IntOf(cursor->Value("other_day"));
    total->sameTime = IntOf(cursor->Value("same_time"));
    total->backwards = IntOf(cursor->Value("backwards"));
    total->jumps = IntOf(cursor->Value("jumps"));
  }
  cursor->Close();
  return total;
}

}  // namespace cuserver
