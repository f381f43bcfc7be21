#pragma once

#include <array>
#include <filesystem>
#include <iterator>
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

// What became of the inserts into one road table.
struct RoadTableCounts {
  bool missing = false;  // the table is not in the database: no insert was tried
  int added = 0;
  int refused = 0;  // one failure each
};

struct RoadImportCounts {
  int read = 0;        // roads of the map table
  int noName = 0;      // skipped: empty road name
  int noMainCode = 0;  // skipped: a name but an empty main code
  std::array<RoadTableCounts, std::size(kRoadInfoTables)> tables;  // in the order of kRoadInfoTables

  RoadTableCounts& Of(RoadInfoTable table) { return tables[static_cast<std::size_t>(table)]; }
  const RoadTableCounts& Of(RoadInfoTable table) const { return tables[static_cast<std::size_t>(table)]; }
};

// Reads the whole road table first (MapError: nothing changed), then opens
// its own session (ConnectionRefusedError) and writes the roads (WriteRoadInfo).
RoadImportCounts ImportRoadInfo(const RoadImportSetup& setup);

// Writes the roads read from the map table through an open session. Without
// roadlightmapinfo nothing is changed (RoadTableMissingError). Otherwise, in
// one transaction, it replaces the rows of roadlightmapinfo and adds rows to
// roadlightmapinfomain and roadlightmapinfose: for every road with a name and
// a main code one insert into each. Each insert stands by itself: one that a
// table refuses is a failure and costs that row alone. A missing
// roadlightmapinfomain or roadlightmapinfose is a failure that costs its own
// inserts. A DatabaseError while emptying or committing leaves the three
// tables as they were.
RoadImportCounts WriteRoadInfo(ReportDatabase& db, const std::vector<RoadInfo>& roads, Diagnostics& diagnostics);

// "N roads read, N skipped (N without a name, N without a main code); T: N added, N refused; ..."
// for the three tables, a missing one as "T: table missing, nothing added".
std::string RoadImportSummary(const RoadImportCounts& counts);

}  // namespace cuserver
