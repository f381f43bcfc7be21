#pragma once

#include <filesystem>

#include "app/simulate/road_network.hpp"

namespace cuserver::sim {

// Writes the network as the service's map folder: HIGHWAY.TAB (highway
// lines), userspeed.TAB (speed areas), wxxlxl.tab (the road table) and the
// geoset HIGHWAY.gst that lists the first two.
void WriteMapFiles(const std::filesystem::path& folder, const RoadNetwork& net);

}  // namespace cuserver::sim
