#include "app/command_import_roads.hpp"

#include <CLI/CLI.hpp>

#include "app/console.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "map/map_services.hpp"
#include "run/road_import.hpp"

namespace cuserver {
namespace {

// On a terminal the caption is a line redrawn in place; it is ended before a
// result line is written, so that the result stands on a line of its own.
void EndCaptionLine(CommandEnvironment& env) {
  if (auto* console = dynamic_cast<Console*>(&env.GetCaption())) console->Finish();
}

}  // namespace

void ImportRoadsCommand::AddArguments(CLI::App& /*command*/) {}

void ImportRoadsCommand::FromJson(const nlohmann::json& arguments) { RequireJsonObject(arguments); }

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
  EndCaptionLine(env);
  env.Out() << RoadImportSummary(counts) << '\n';
}

}  // namespace cuserver
