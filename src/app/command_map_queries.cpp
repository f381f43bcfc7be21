#include "app/command_map_queries.hpp"

#include <CLI/CLI.hpp>

#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"

namespace cuserver {
namespace {

void AddPosition(CLI::App& command, std::string& lat, std::string& lon) {
  command.add_option("LAT", lat, "Latitude in decimal degrees")->type_name("DEGREES")->required();
  command.add_option("LON", lon, "Longitude in decimal degrees")->type_name("DEGREES")->required();
}

void PositionFromJson(const nlohmann::json& arguments, std::string& lat, std::string& lon) {
  lat.clear();
  lon.clear();
  JsonText(arguments, "lat", lat);
  JsonText(arguments, "lon", lon);
}

}  // namespace

void HighwayTestCommand::AddArguments(CLI::App& command) {
  AddPosition(command, latText_, lonText_);
}

void HighwayTestCommand::FromJson(const nlohmann::json& arguments) {
  PositionFromJson(arguments, latText_, lonText_);
}

void HighwayTestCommand::Setup() {
  if (latText_.empty() || lonText_.empty()) throw ArgumentError("give LAT and LON");
  latitude_ = ParseDegrees(latText_, "LAT", 90);
  longitude_ = ParseDegrees(lonText_, "LON", 180);
}

void HighwayTestCommand::Run(CommandEnvironment& env) {
  env.Out() << env.Map().IsOnHighway(latitude_, longitude_) << '\n';
}

void AreaNameCommand::AddArguments(CLI::App& command) {
  AddPosition(command, latText_, lonText_);
}

void AreaNameCommand::FromJson(const nlohmann::json& arguments) {
  PositionFromJson(arguments, latText_, lonText_);
}

void AreaNameCommand::Setup() {
  if (latText_.empty() || lonText_.empty()) throw ArgumentError("give LAT and LON");
  latitude_ = ParseDegrees(latText_, "LAT", 90);
  longitude_ = ParseDegrees(lonText_, "LON", 180);
}

void AreaNameCommand::Run(CommandEnvironment& env) {
  env.Out() << env.Map().AreaNameAt(latitude_, longitude_) << '\n';
}

}  // namespace cuserver
