#include "reports/road_speeding.hpp"

#include <utility>

#include <fmt/format.h>

#include "reports/report_rows.hpp"
#include "reports/settings.hpp"
#include "reports/report_tables.hpp"
#include "reports/text_number.hpp"
#include "reports/time_arith.hpp"
#include "reports/track_distance.hpp"

namespace cuserver {

namespace {

constexpr double kIgnoredBelowKmh = 5.0;
constexpr int kShortEpisodeSeconds = 30;

// The episode in progress, by slot index; end is -1 until a fix continued it.
struct Episode {
  bool open = false;
  std::size_t begin = 0;
  long end = -1;
  std::size_t fastest = 0;
  double maxSpeed = 0.0;
};

bool OnHighway(GeoServices& geo, const TrackPoint& fix) {
  return geo.IsOnHighway(fix.Latitude(), fix.Longitude()) != 0;
}

}  // namespace

int ComputeRoadSpeeding(const ReportContext& ctx, int /*n*/) {
  const TrackBuffer& track = ctx.track;
  const ReportSettings settings =
      LoadReportSettings(track[0].simId, ctx.settingsFile, ctx.speedLimits, ctx.diagnostics);
  const auto end = static_cast<std::size_t>(LoadedEnd(track));
  // A limit of 0 from a faulty file would make every moving fix speeding.
  if (end > 0 && !settings.limitFault.empty()) throw ReportSettingsError(settings.limitFault);
  static const std::string kEmpty;

  Episode episode;
  bool onHighway = false;
  const auto close = [&](const TrackPoint& closing, bool highway) {
    const std::string& endTime = episode.end < 0 ? kEmpty : track[static_cast<std::size_t>(episode.end)].time;
    const std::string& beginTime = track[episode.begin].time;
    if (settings.highSpeedCap > episode.maxSpeed &&
        SecondsBetween(beginTime, endTime) > settings.minEpisodeSeconds) {
      const TrackPoint& fastest = track[episode.fastest];
      WriteSpeedingRow(ctx, closing.simId, beginTime, endTime, highway, episode.maxSpeed, fastest.longitude.Text(),
                       fastest.latitude.Text());
    }
    episode = Episode{};
    onHighway = false;
  };

  for (std::size_t j = 0; j < end; ++j) {
    const TrackPoint& fix = track[j];
    const double speed = fix.Speed();
    if (speed < kIgnoredBelowKmh) continue;
    if (!episode.open) {
      if (speed <= settings.generalLimit) continue;
      onHighway = OnHighway(ctx.geo, fix);
      if (onHighway && speed <= settings.highwayLimit) continue;
      episode.open = true;
      episode.begin = episode.fastest = j;
      episode.maxSpeed = speed;
      continue;
    }
    if (speed <= settings.generalLimit) {
      close(fix, onHighway);
      continue;
    }
    onHighway = OnHighway(ctx.geo, fix);
    if (onHighway && speed <= settings.highwayLimit) {
      close(fix, true);
      continue;
    }
    episode.end = static_cast<long>(j);
    if (speed > episode.maxSpeed) {
      episode.maxSpeed = speed;
      episode.fastest = j;
    }
  }
  return 0;
}

int WriteSpeedingRow(const ReportContext& ctx, const std::string& simId, const std::string& begin,
                     const std::string& end, bool onHighway, double maxSpeed, const std::string& longitude,
                     const std::string& latitude) {
  const char* remark = onHighway ? "高速公路" : "普通公路";
  if (end.empty()) return 0;
  const int seconds = SecondsBetween(begin, end);
  if (seconds <= kShortEpisodeSeconds) return 0;
  const std::string table = FamilyTableName(ReportFamily::SpeedAlarm, begin);
  if (!AcceptTableName(table, simId, begin, &ctx.diagnostics)) return 0;
  const std::string distance =
      fmt::format("{:.2f}", TrackDistance(ctx.fixes, ctx.geo, simId, begin, end) * 0.001);
  ReportRow row = ReportRow::Of(
      report_rows::kRoadSpeeding, table,
      {RowValue::Text(simId), RowValue::Text(begin), RowValue::Text(end), RowValue::Text(std::to_string(seconds)),
       RowValue::Text(fmt::format("{:.2f}", maxSpeed)), RowValue::Text(remark), RowValue::Text(distance),
       RowValue::Text(longitude), RowValue::Text(latitude)});
  ctx.rows.Write(std::move(row), simId);
  return 0;
}

}  // namespace cuserver
