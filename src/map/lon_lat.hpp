#pragma once

namespace cuserver {

// A position in decimal degrees; the map's x is the longitude.
struct LonLat {
  double longitude = 0;
  double latitude = 0;
};

}  // namespace cuserver
