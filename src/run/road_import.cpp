#include "run/road_import.hpp"

#include <fmt/format.h>

#include "db/dialect.hpp"
#include "run/run_session.hpp"

namespace cuserver {

std::filesystem::path RoadTablePath(const std::filesystem::path& startDirectory) {
  return startDirectory / "HighWay" / "wxxlxl.tab";
}

std::vector<RoadInfo> ReadRoadTable(MapServices& map, const std::filesystem::path& file) {
  auto table = map.OpenTableLayer(file, "wxxlxl");
  for (std::string_view field :
       {kRoadNameField, kMainCodeField, kSecondaryCodeField, kThirdCodeField, kDistrictField}) {
    if (!table->HasField(field)) {
      throw MapError(fmt::format("map table {} has no field '{}'; no road was imported", file.string(), field));
    }
  }
  std::vector<RoadInfo> roads;
  roads.reserve(static_cast<std::size_t>(table->FeatureCount()));
  for (int i = 1; i <= table->FeatureCount(); ++i) {
    RoadInfo road;
    road.name = table->FieldText(i, kRoadNameField);
    road.mainCode = table->FieldText(i, kMainCodeField);
    road.secondaryCode = table->FieldText(i, kSecondaryCodeField);
    road.thirdCode = table->FieldText(i, kThirdCodeField);
    road.district = table->FieldText(i, kDistrictField);
    roads.push_back(std::move(road));
  }
  return roads;
}

RoadImportCounts ImportRoadInfo(const RoadImportSetup& setup) {
  const std::vector<RoadInfo> roads = ReadRoadTable(setup.map, RoadTablePath(setup.startDirectory));
  RoadImportCounts counts;
  counts.read = static_cast<int>(roads.size());

  ReportDatabase db;
  OpenRunSession(db, setup.connection, setup.caption);
  for (RoadInfoTable table : kRoadInfoTables) {
    if (!TableExists(db, RoadInfoTableName(table))) {
      throw RoadTableMissingError(
          fmt::format("table {} is missing from the database; no road was imported", RoadInfoTableName(table)));
    }
  }

  int written = 0;
  int refused = 0;
  try {
    RoadInfoReplacement replacement(db);
    replacement.Clear();
    for (const RoadInfo& road : roads) {
      if (road.name.empty()) {
        ++counts.noName;
      } else if (road.mainCode.empty()) {
        ++counts.noMainCode;
      } else if (auto refusal = replacement.AddRoad(road)) {
        ++refused;
        setup.diagnostics.Failure(fmt::format("road refused: table {}, road {} (main code {}): {}",
                                              RoadInfoTableName(refusal->table), road.name, road.mainCode,
                                              refusal->reason));
      } else {
        ++written;
      }
    }
    replacement.Commit();
  } catch (const DatabaseError& error) {
    throw DatabaseError(fmt::format("road import not done, the road tables are as they were: {}",
                                    DatabaseErrorText(error)));
  }
  counts.written = written;
  counts.refused = refused;
  return counts;
}

std::string RoadImportSummary(const RoadImportCounts& counts) {
  return fmt::format("{} roads read, {} written, {} skipped ({} without a name, {} without a main code, {} refused)",
                     counts.read, counts.written, counts.noName + counts.noMainCode + counts.refused, counts.noName,
                     counts.noMainCode, counts.refused);
}

}  // namespace cuserver
