#include "app/command_import_roads.hpp"

#include <CLI/CLI.hpp>

#include "app/console.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/run_summary.hpp"
#include "map/map_services.hpp"
#include "reports/translate.hpp"
#include "run/road_import.hpp"

namespace cuserver {

void ImportRoadsCommand::AddArguments(CLI::App& command) {
  command.add_flag("--json", json_, Tr("Print one JSON object with the import's counts instead of the text"));
}

void ImportRoadsCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  json_ = false;
}

void ImportRoadsCommand::Run(CommandEnvironment& env) {
  ConnectionSettings connection = env.Connection();
  // The table's layer goes into a map of the import's own, never into a map
  // that other commands are querying.
  auto map = CreateMapServices(ReadMapSettings(env.Settings(), env.StartDirectory()).toleranceMetres);
  RoadImportCounts counts;
  try {
    counts = ImportRoadInfo({connection, *map, env.StartDirectory(), env.GetCaption(), env.GetDiagnostics()});
  } catch (const RoadTableMissingError& error) {
    throw CannotRunError(error.what());
  }
  counts_ = counts;
  if (env.Summaries(*this)) {
    EndCaptionLine(env.GetCaption());
    env.Out() << RoadImportSummary(counts) << '\n';
  }
}

void ImportRoadsCommand::AddToSummary(nlohmann::json& summary) const {
  if (!counts_) return;
  summary["import"] = RoadImportJson(*counts_);
  for (RoadInfoTable table : kRoadInfoTables) {
    summary["rowsWritten"][std::string(RoadInfoTableName(table))] = counts_->Of(table).added;
  }
}

}  // namespace cuserver
