#include "reports/track_distance.hpp"

#include <fmt/format.h>

#include "reports/moving_fix.hpp"
#include "reports/report_rows.hpp"
#include "reports/sql_text.hpp"
#include "reports/text_number.hpp"
#include "reports/track.hpp"

namespace cuserver {

namespace {

constexpr std::size_t kDateLength = 10;

double DayDistance(FixReader& fixes, GeoServices& geo, const std::string& simId,
                   const std::string& begin, const std::string& end) {
  const std::string query = TrackDistanceQuery(simId, begin, end);
  if (query.empty()) return 0.0;
  double metres = 0.0;
  bool havePrevious = false;
  double previousLongitude = 0.0;
  double previousLatitude = 0.0;
  const FixReader::PositionFunction add = [&](double longitude, double latitude) {
    if (havePrevious) {
      metres += geo.DistanceMetres(previousLongitude, previousLatitude, longitude, latitude);
    }
    previousLongitude = longitude;
    previousLatitude = latitude;
    havePrevious = true;
  };
  if (fixes.ForEachKnownFix(simId, begin, end, add)) return metres;
  try {
    fixes.ForEachFix(query, [&add](std::string_view longitude, std::string_view latitude) {
      if (IsUsablePosition(longitude, latitude)) add(LeadingDouble(longitude), LeadingDouble(latitude));
    });
  } catch (const QueryOpenError&) {
    return 0.0;
  }
  return metres;
}

}  // namespace

std::string TrackDistanceQuery(const std::string& simId, const std::string& begin,
                               const std::string& end) {
  const std::string table = fmt::format("GPSDATA{}{}{}", TextPiece(begin, 0, 4), TextPiece(begin, 5, 2),
                                        TextPiece(begin, 8, 2));
  if (!IsPlainTableName(table)) return {};
  return fmt::format(
      "select * from {} where SIMID='{}' and time>'{}' and time<'{}' and {} order by time asc", table,
      SqlValue(simId), SqlValue(begin), SqlValue(end), MovingSpeedCondition());
}

double TrackDistance(FixReader& fixes, GeoServices& geo, const std::string& simId,
                     const std::string& begin, const std::string& end) {
  // A shorter text would name no day, and its split would never reach one date.
  if (begin.size() < kDateLength || end.size() < kDateLength) return 0.0;
  const std::string_view beginDate(begin.data(), kDateLength);
  const std::string_view endDate(end.data(), kDateLength);
  if (beginDate == endDate) return DayDistance(fixes, geo, simId, begin, end);
  return DayDistance(fixes, geo, simId, begin, fmt::format("{} 23:59:59", beginDate)) +
         DayDistance(fixes, geo, simId, fmt::format("{} 00:00:00", endDate), end);
}

}  // namespace cuserver
