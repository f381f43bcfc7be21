#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/road_info.hpp"
#include "db/session.hpp"
#include "map/map_services.hpp"
#include "reports/diagnostics.hpp"
#include "run/caption.hpp"

namespace cuserver {

// A road-information table is missing from the database; nothing was changed.
class RoadTableMissingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The map table's fields, in the order a road's values are read.
inline constexpr std::string_view kRoadNameField = "name";
inline constexpr std::string_view kMainCodeField = "主编码";
inline constexpr std::string_view kSecondaryCodeField = "副编码";
inline constexpr std::string_view kThirdCodeField = "三级编码";
inline constexpr std::string_view kDistrictField = "行政区";

// "HighWay\wxxlxl.tab" under the start directory; MapServices finds it
// without regard to case, as Windows would.
std::filesystem::path RoadTablePath(const std::filesystem::path& startDirectory);

// Every road of the map table, in its feature order. Throws MapError naming
// the file when it cannot be read or lacks one of the five fields (naming
// the field).
std::vector<RoadInfo> ReadRoadTable(MapServices& map, const std::filesystem::path& file);

struct RoadImportSetup {
  ConnectionSettings connection;
  MapServices& map;  // the table is added to it as the layer "wxxlxl"
  std::filesystem::path startDirectory;
  Caption& caption;
  Diagnostics& diagnostics;
};

struct RoadImportCounts {
  int read = 0;        // roads of the map table
  int written = 0;     // roads written to all three tables
  int noName = 0;      // skipped: empty road name
  int noMainCode = 0;  // skipped: a name but an empty main code
  int refused = 0;     // skipped: a table refused the road (one failure each)
};

// Reads the whole road table first (MapError: nothing changed), then opens
// its own session (ConnectionRefusedError), makes sure the three road tables
// exist (RoadTableMissingError), and in one transaction replaces the rows of
// roadlightmapinfo and adds rows to roadlightmapinfomain and
// roadlightmapinfose: one row in each for every road with a name and a main
// code. A road a table refuses is recorded as a failure and left out of all
// three (through ODBC, out of that table and the ones after it). A
// DatabaseError while emptying or committing leaves the three tables as they
// were.
RoadImportCounts ImportRoadInfo(const RoadImportSetup& setup);

// "N roads read, N written, N skipped (N without a name, N without a main code, N refused)"
std::string RoadImportSummary(const RoadImportCounts& counts);

}  // namespace cuserver
