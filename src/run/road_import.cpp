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
  ReportDatabase db;
  OpenRunSession(db, setup.connection, setup.caption);
  return WriteRoadInfo(db, roads, setup.diagnostics);
}

RoadImportCounts WriteRoadInfo(ReportDatabase& db, const std::vector<RoadInfo>& roads, Diagnostics& diagnostics) {
  RoadImportCounts counts;
  counts.read = static_cast<int>(roads.size());
  if (!TableExists(db, RoadInfoTableName(RoadInfoTable::Info))) {
    throw RoadTableMissingError(fmt::format("table {} is missing from the database; no road was imported",
                                            RoadInfoTableName(RoadInfoTable::Info)));
  }
  for (RoadInfoTable table : {RoadInfoTable::Main, RoadInfoTable::Se}) {
    if (TableExists(db, RoadInfoTableName(table))) continue;
    counts.Of(table).missing = true;
    diagnostics.Failure(fmt::format("table {} is missing from the database; no road was added to it",
                                    RoadInfoTableName(table)));
  }

  try {
    RoadInfoReplacement replacement(db);
    replacement.Clear();
    for (const RoadInfo& road : roads) {
      if (road.name.empty()) {
        ++counts.noName;
        continue;
      }
      if (road.mainCode.empty()) {
        ++counts.noMainCode;
        continue;
      }
      for (RoadInfoTable table : kRoadInfoTables) {
        RoadTableCounts& tally = counts.Of(table);
        if (tally.missing) continue;
        if (auto reason = replacement.Insert(table, road)) {
          ++tally.refused;
          diagnostics.Failure(fmt::format("road refused: table {}, road {} (main code {}): {}",
                                          RoadInfoTableName(table), road.name, road.mainCode, *reason));
        } else {
          ++tally.added;
        }
      }
    }
    replacement.Commit();
  } catch (const DatabaseError& error) {
    throw DatabaseError(fmt::format("road import not done, the road tables are as they were: {}",
                                    DatabaseErrorText(error)));
  }
  return counts;
}

std::string RoadImportSummary(const RoadImportCounts& counts) {
  std::string text =
      fmt::format("{} roads read, {} skipped ({} without a name, {} without a main code)", counts.read,
                  counts.noName + counts.noMainCode, counts.noName, counts.noMainCode);
  for (RoadInfoTable table : kRoadInfoTables) {
    const RoadTableCounts& tally = counts.Of(table);
    if (tally.missing) {
      text += fmt::format("; {}: table missing, nothing added", RoadInfoTableName(table));
    } else {
      text += fmt::format("; {}: {} added, {} refused", RoadInfoTableName(table), tally.added, tally.refused);
    }
  }
  return text;
}

}  // namespace cuserver
