#include "app/command_map_queries.hpp"

#include <CLI/CLI.hpp>

#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "reports/translate.hpp"

namespace cuserver {

void MapQueryCommand::AddArguments(CLI::App& command) {
  command.add_option("LAT", latText_, Tr("Latitude in decimal degrees"))->type_name("DEGREES")->required();
  command.add_option("LON", lonText_, Tr("Longitude in decimal degrees"))->type_name("DEGREES")->required();
}

void MapQueryCommand::FromJson(const nlohmann::json& arguments) {
  latText_.clear();
  lonText_.clear();
  JsonText(arguments, "lat", latText_);
  JsonText(arguments, "lon", lonText_);
}

void MapQueryCommand::Setup() {
  if (latText_.empty() || lonText_.empty()) throw ArgumentError(Tr("give LAT and LON"));
  latitude_ = ParseDegrees(latText_, "LAT", 90);
  longitude_ = ParseDegrees(lonText_, "LON", 180);
}

void MapQueryCommand::Run(CommandEnvironment& env) { env.Out() << Answer(env, latitude_, longitude_) << '\n'; }

std::string HighwayTestCommand::Answer(CommandEnvironment& env, double latitude, double longitude) const {
  return std::to_string(env.Map().IsOnHighway(latitude, longitude));
}

std::string AreaNameCommand::Answer(CommandEnvironment& env, double latitude, double longitude) const {
  return env.Map().AreaNameAt(latitude, longitude);
}

}  // namespace cuserver
