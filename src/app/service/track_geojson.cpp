#include "app/service/track_geojson.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/day_arguments.hpp"
#include "app/errors.hpp"
#include "db/dialect.hpp"
#include "db/loaders.hpp"
#include "db/report_reader.hpp"
#include "reports/report_tables.hpp"
#include "reports/sql_text.hpp"
#include "reports/time_arith.hpp"
#include "reports/track.hpp"
#include "run/day_key.hpp"

namespace cuserver {
namespace {

using Position = std::pair<double, double>;  // longitude, latitude in degrees

std::optional<double> Number(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

nlohmann::json NumberOrNull(std::string_view text) {
  const auto value = Number(text);
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The reports' rule: terminals without a position send empty texts or 0,0.
std::optional<Position> PositionOf(std::string_view longitude, std::string_view latitude) {
  if (!IsUsablePosition(longitude, latitude)) return std::nullopt;
  return Position{LeadingDouble(longitude), LeadingDouble(latitude)};
}

nlohmann::json Coordinates(const Position& position) { return {position.first, position.second}; }

// A row without a usable position is still an event, with a null geometry.
nlohmann::json PointFeature(const std::optional<Position>& position, nlohmann::json properties) {
  nlohmann::json geometry = nullptr;
  if (position) geometry = {{"type", "Point"}, {"coordinates", Coordinates(*position)}};
  return {{"type", "Feature"}, {"geometry", std::move(geometry)}, {"properties", std::move(properties)}};
}

// The position of the fix at `time`, the first of several with one.
std::optional<Position> PositionAt(const TrackBuffer& track, std::string_view time) {
  for (int i = 0; i < track.Count(); ++i) {
    const TrackPoint& fix = track[static_cast<std::size_t>(i)];
    if (fix.time < time) continue;
    if (fix.time > time) break;
    if (auto position = PositionOf(fix.longitude.Text(), fix.latitude.Text())) return position;
  }
  return std::nullopt;
}

struct Event {
  std::string begin;
  nlohmann::json feature;
};

std::string Text(const Cursor& row, std::string_view column) { return row.Value(column).value_or(std::string()); }

// The rows of the vehicle in a report table whose begin time falls on the
// day ("yyyy-mm-dd"), as events; a table that cannot be read adds a note.
// The vehicle's events of the day in the family's table of the date's month.
void ReadEvents(ReportDatabase& db, ReportFamily family, std::string_view simId, std::string_view date,
                const std::function<Event(const Cursor&)>& event, std::vector<Event>& events,
                std::vector<std::string>& notes) {
  const std::string table = FamilyTableName(family, date);
  std::vector<Event> read;
  try {
    if (!TableExists(db, table)) {
      notes.push_back(fmt::format("{}：{}", table, kNoSuchTable));
      return;
    }
    auto cursor =
        db.OpenQuery(fmt::format("select * from {} where {}=?", table, TableFamily(family).simIdColumn), {std::string(simId)});
    for (; !cursor->AtEnd(); cursor->Next()) {
      Event found = event(*cursor);
      if (found.begin.starts_with(date)) read.push_back(std::move(found));
    }
    cursor->Close();
  } catch (const DatabaseError& error) {
    notes.push_back(fmt::format("{} 读取失败：{}", table, DatabaseErrorText(error)));
    return;
  }
  std::move(read.begin(), read.end(), std::back_inserter(events));
}

}  // namespace

nlohmann::json DayTrackGeoJson(ReportDatabase& db, std::string_view dayKey, std::string_view simId) {
  const std::string key = DayKeyText(ReadableDay(dayKey));
  if (simId.empty()) throw ArgumentError("请指定车辆：vehicle=SIMID");
  const std::string gpsTable = "GPSDATA" + key;
  if (!TableExists(db, gpsTable)) {
    throw TrackNotFoundError(fmt::format("没有 GPS 表 {}：跟踪服务没有存储 {} 这一天的定位数据", gpsTable, key));
  }
  TrackBuffer track;
  const int fixes = LoadDayTrack(db, std::string(simId), key, track);
  if (fixes == 0) throw TrackNotFoundError(fmt::format("车辆 {} 在 {} 中没有定位数据", simId, gpsTable));

  nlohmann::json line = nlohmann::json::array();
  std::vector<std::string> times;  // of the line's fixes, one a coordinate
  std::vector<Position> positions;
  for (int i = 0; i < fixes; ++i) {
    const TrackPoint& fix = track[static_cast<std::size_t>(i)];
    if (auto position = PositionOf(fix.longitude.Text(), fix.latitude.Text())) {
      line.push_back(Coordinates(*position));
      positions.push_back(*position);
      times.push_back(fix.time);
    }
  }
  nlohmann::json geometry = nullptr;
  if (line.size() == 1) geometry = {{"type", "Point"}, {"coordinates", line[0]}};
  const std::size_t positioned = line.size();
  if (positioned > 1) geometry = {{"type", "LineString"}, {"coordinates", std::move(line)}};
  nlohmann::json features = nlohmann::json::array();
  features.push_back({{"type", "Feature"},
                      {"geometry", std::move(geometry)},
                      {"properties",
                       {{"event", "track"},
                        {"simid", simId},
                        {"day", key},
                        {"fixes", fixes},
                        {"positioned", positioned},
                        {"times", times},
                        {"first", track[0].time},
                        {"last", track[static_cast<std::size_t>(fixes - 1)].time}}}});

  const std::string date = DayBeginTime(key).substr(0, 10);
  std::vector<Event> events;
  std::vector<std::string> notes;
  ReadEvents(db, ReportFamily::SpeedAlarm, simId, date, [&track](const Cursor& row) -> Event {
    const std::string begin = Text(row, TableFamily(ReportFamily::SpeedAlarm).timeColumn);
    auto position = PositionAt(track, begin);
    if (!position) position = PositionOf(Text(row, "LONGITUDE"), Text(row, "LATITUDE"));
    return Event{begin, PointFeature(position, {{"event", "speeding"},
                                                 {"begin", begin},
                                                 {"end", Text(row, "ENDTIME")},
                                                 {"seconds", NumberOrNull(Text(row, "TOTTIME"))},
                                                 {"speed", NumberOrNull(Text(row, "SPEED"))},
                                                 {"remark", Text(row, "REMARK")},
                                                 {"distance", NumberOrNull(Text(row, "DISTANCE"))}})};
  }, events, notes);
  ReadEvents(db, ReportFamily::ParkingLog, simId, date, [](const Cursor& row) -> Event {
    const std::string begin = Text(row, TableFamily(ReportFamily::ParkingLog).timeColumn);
    const std::string end = Text(row, "ENDTIME");
    const auto position = PositionOf(Text(row, "LONGITUDE"), Text(row, "LATITUDE"));
    const auto span = ComputeCalendarSpan(begin, end);
    return Event{begin, PointFeature(position, {{"event", "stop"},
                                                 {"begin", begin},
                                                 {"end", end},
                                                 {"seconds", span ? nlohmann::json(span->seconds) : nlohmann::json(nullptr)},
                                                 {"duration", Text(row, "STOPADD")}})};
  }, events, notes);
  // The silence begins after the last fix heard, so the mark is at the last
  // positioned fix at or before the begin time (the first fix when the day
  // began in silence).
  const auto lastHeard = [&times, &positions](const std::string& begin) -> std::optional<Position> {
    if (positions.empty()) return std::nullopt;
    const auto after = std::upper_bound(times.begin(), times.end(), begin);
    return positions[after == times.begin() ? 0 : static_cast<std::size_t>(after - times.begin() - 1)];
  };
  ReadEvents(db, ReportFamily::ContactAlarm, simId, date, [&lastHeard](const Cursor& row) -> Event {
    const std::string begin = Text(row, TableFamily(ReportFamily::ContactAlarm).timeColumn);
    const std::string end = Text(row, "ENDTIME");
    const auto span = ComputeCalendarSpan(begin, end);
    return Event{begin, PointFeature(lastHeard(begin), {{"event", "lost"},
                                                         {"begin", begin},
                                                         {"end", end},
                                                         {"seconds", span ? nlohmann::json(span->seconds)
                                                                          : nlohmann::json(nullptr)}})};
  }, events, notes);
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.begin < b.begin; });
  for (Event& event : events) features.push_back(std::move(event.feature));
  return {{"type", "FeatureCollection"}, {"features", std::move(features)}, {"notes", notes}};
}

}  // namespace cuserver
