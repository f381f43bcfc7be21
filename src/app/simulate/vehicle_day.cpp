#include "app/simulate/vehicle_day.hpp"

#include <algorithm>
#include <cmath>

namespace cuserver::sim {
namespace {

constexpr int kDaySeconds = 86400;

struct Motion {
  const HighwayPath* path;
  double along;      // metres along the highway
  double direction;  // +1 or -1
  double offset;     // metres beside the highway; 0 drives on it

  void Advance(double metres) {
    along += direction * metres;
    if (along < 0) {
      along = -along;
      direction = 1;
    } else if (along > path->LengthMetres()) {
      along = 2 * path->LengthMetres() - along;
      direction = -1;
    }
    along = std::clamp(along, 0.0, path->LengthMetres());
  }
  GeoPoint Position() const { return path->At(along, offset * direction); }
};

class DayWriter {
 public:
  DayWriter(const VehiclePlan& plan, std::mt19937_64& rng, std::vector<SimFix>& out)
      : plan_(plan), rng_(rng), out_(out) {}

  void Emit(int t, const GeoPoint& p, double speed) {
    if (t >= kDaySeconds) return;
    SimFix fix{t, p.longitude, p.latitude, speed};
    if (Chance(plan_.malformedShare)) {
      if (Chance(0.8)) fix.speedMissing = true; else fix.longitudeMissing = true;
    }
    out_.push_back(fix);
  }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  double Between(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  int Seconds(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  const VehiclePlan& plan_;
  std::mt19937_64& rng_;
  std::vector<SimFix>& out_;
};

}  // namespace

HighwayPath::HighwayPath(const NamedLine& line) : line_(line) {
  cumulative_.push_back(0.0);
  for (std::size_t i = 1; i < line.points.size(); ++i) {
    const auto& a = line.points[i - 1];
    const auto& b = line.points[i];
    const double dx = (b.longitude - a.longitude) * MetresPerDegreeLongitude(a.latitude);
    const double dy = (b.latitude - a.latitude) * MetresPerDegreeLatitude();
    cumulative_.push_back(cumulative_.back() + std::hypot(dx, dy));
  }
}

GeoPoint HighwayPath::At(double metres, double offsetMetres) const {
  if (line_.points.size() < 2) return line_.points.front();
  auto it = std::upper_bound(cumulative_.begin(), cumulative_.end(), metres);
  std::size_t i = std::clamp<std::size_t>(static_cast<std::size_t>(it - cumulative_.begin()), 1,
                                          line_.points.size() - 1);
  const auto& a = line_.points[i - 1];
  const auto& b = line_.points[i];
  const double length = cumulative_[i] - cumulative_[i - 1];
  const double f = length > 0 ? std::clamp((metres - cumulative_[i - 1]) / length, 0.0, 1.0) : 0.0;
  GeoPoint p{a.longitude + (b.longitude - a.longitude) * f, a.latitude + (b.latitude - a.latitude) * f};
  if (offsetMetres != 0 && length > 0) {
    const double dx = (b.longitude - a.longitude) * MetresPerDegreeLongitude(a.latitude) / length;
    const double dy = (b.latitude - a.latitude) * MetresPerDegreeLatitude() / length;
    p.longitude += dy * offsetMetres / MetresPerDegreeLongitude(p.latitude);
    p.latitude += -dx * offsetMetres / MetresPerDegreeLatitude();
  }
  return p;
}

std::vector<SimFix> SimulateVehicleDay(const std::vector<HighwayPath>& highways, const VehiclePlan& plan,
                                       std::mt19937_64& rng) {
  std::vector<SimFix> fixes;
  if (plan.kind == VehicleKind::Silent || highways.empty()) return fixes;
  DayWriter out(plan, rng, fixes);
  const int dt = std::max(1, plan.intervalSeconds);

  const HighwayPath& path = highways[static_cast<std::size_t>(plan.homeHighway) % highways.size()];
  Motion motion{&path, out.Between(0, path.LengthMetres()), out.Chance(0.5) ? 1.0 : -1.0, 0.0};

  int t = out.Seconds(5 * 3600, 8 * 3600);
  const int end = out.Seconds(18 * 3600, 23 * 3600 + 1800);
  if (plan.reportsWhileParked) {
    const GeoPoint parked = motion.Position();
    for (int s = t % dt; s < t; s += dt) out.Emit(s, parked, 0.0);
  }
  bool gapPending = plan.kind == VehicleKind::WithGap;
  bool longPending = plan.kind == VehicleKind::LongDrive;

  while (t < end) {
    // A drive.
    const bool onHighway = out.Chance(0.5);
    motion.offset = onHighway ? 0.0 : out.Between(300, 800) * (out.Chance(0.5) ? 1 : -1);
    const int driveSeconds = longPending ? out.Seconds(4 * 3600 + 1800, 5 * 3600 + 1800) : out.Seconds(1200, 5400);
    longPending = false;
    const double cruise = onHighway ? out.Between(90, 115) : out.Between(40, 70);
    const double fast = onHighway ? out.Between(125, 140) : out.Between(85, 100);
    int speedingLeft = 0;
    int pauseLeft = 0;
    const int gapAt = gapPending ? t + driveSeconds / 2 : -1;
    for (int elapsed = 0; elapsed < driveSeconds && t < end; elapsed += dt, t += dt) {
      if (gapAt >= 0 && t >= gapAt && gapPending) {
        gapPending = false;
        const int gap = out.Seconds(65 * 60, 180 * 60);
        motion.Advance(cruise / 3.6 * gap * 0.2);
        t += gap;
        continue;
      }
      if (speedingLeft == 0 && pauseLeft == 0 && out.Chance(0.004 * dt / 10.0)) speedingLeft = out.Seconds(60, 600);
      if (speedingLeft == 0 && pauseLeft == 0 && out.Chance(0.001 * dt / 10.0)) pauseLeft = out.Seconds(60, 240);
      double speed;
      if (pauseLeft > 0) {
        speed = 0;
        pauseLeft = std::max(0, pauseLeft - dt);
      } else if (speedingLeft > 0) {
        speed = fast + out.Between(-3, 3);
        speedingLeft = std::max(0, speedingLeft - dt);
      } else {
        speed = cruise + out.Between(-8, 8);
      }
      motion.Advance(speed / 3.6 * dt);
      out.Emit(t, motion.Position(), std::round(speed * 10) / 10);
    }
    if (t >= end) break;
    // A stop: standing fixes, some with the terminal's drift speed.
    const int stopSeconds = out.Chance(0.3) ? out.Seconds(120, 280) : out.Seconds(360, 3600);
    const GeoPoint here = motion.Position();
    for (int elapsed = 0; elapsed < stopSeconds && t < end; elapsed += dt, t += dt) {
      out.Emit(t, here, out.Chance(0.1) ? 3.704 : 0.0);
    }
  }
  if (plan.reportsWhileParked) {
    const GeoPoint parked = motion.Position();
    for (; t < kDaySeconds; t += dt) out.Emit(t, parked, 0.0);
  }
  return fixes;
}

}  // namespace cuserver::sim
