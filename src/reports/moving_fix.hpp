#pragma once

#include <array>
#include <string>

namespace cuserver {

// A fix is moving when its speed (km/h) is none of these; the mileage, the
// track distance and its reads from the loaded track all go by this rule.
inline constexpr std::array<double, 2> kStandingSpeedsKmh{0.0, 3.704};

constexpr bool IsMovingSpeed(double speedKmh) {
  for (const double standing : kStandingSpeedsKmh) {
    if (speedKmh == standing) return false;
  }
  return true;
}

// The same rule as the condition of a query on a GPS day table's Speed
// column: "(Speed<>0) and (Speed<>3.704)".
const std::string& MovingSpeedCondition();

}  // namespace cuserver
