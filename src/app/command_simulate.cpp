#include "app/command_simulate.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "app/day_arguments.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/json_arguments.hpp"
#include "app/simulate/ownership.hpp"
#include "reports/text_number.hpp"
#include "reports/translate.hpp"
#include "run/day_key.hpp"
#include "run/run_session.hpp"

namespace cuserver {
namespace {

int JsonInt(const nlohmann::json& arguments, const std::string& key, int fallback) {
  std::string text;
  if (!JsonText(arguments, key, text)) return fallback;
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    throw ArgumentError(TrFormat("{} must be a whole number", key));
  }
  return LeadingInt(text);
}

// A libpq connection string with its password's value left out.
std::string WithoutPassword(std::string_view text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t found = text.find("password", at);
    if (found == std::string_view::npos) break;
    std::size_t value = found + 8;
    while (value < text.size() && text[value] == ' ') ++value;
    if (value >= text.size() || text[value] != '=') {
      out.append(text.substr(at, value - at));
      at = value;
      continue;
    }
    ++value;
    while (value < text.size() && text[value] == ' ') ++value;
    std::size_t end = value;
    if (end < text.size() && text[end] == '\'') {  // quoted: up to the closing quote, \' and \\ escaped
      for (++end; end < text.size() && text[end] != '\''; ++end) {
        if (text[end] == '\\') ++end;
      }
      end = std::min(end + 1, text.size());
    } else {
      while (end < text.size() && text[end] != ' ') ++end;
    }
    out.append(text.substr(at, found - at));
    out += "password=...";
    at = end;
  }
  out.append(text.substr(std::min(at, text.size())));
  return out;
}

// The database as the operator named it, without a password.
std::string DatabaseName(const ConnectionSettings& connection) {
  switch (connection.backend) {
    case Backend::Sqlite3: return connection.dataSource;
    case Backend::Postgresql: return "PostgreSQL " + WithoutPassword(connection.dataSource);
    case Backend::Odbc: return "ODBC " + connection.dataSource;
    case Backend::Mysql: return "MySQL " + WithoutPassword(connection.dataSource);
  }
  return connection.dataSource;
}

}  // namespace

void SimulateCommand::AddArguments(CLI::App& command) {
  command.add_option("--vehicles", options_.vehicles, Tr("Number of vehicles"))->type_name("N")->capture_default_str();
  command.add_option("--interval", options_.intervalSeconds, Tr("Seconds between two fixes of a vehicle"))
      ->type_name("SECONDS")
      ->capture_default_str();
  command.add_option("--day", options_.dayKey, Tr("The day as yyyy-mm-dd or yyyymmdd"))->type_name("DAYKEY")->required();
  command.add_option("--seed", seedText_, Tr("Seed: the same seed gives the same data"))
      ->type_name("N")
      ->capture_default_str();
  command.add_option("--highway-segments", options_.highwaySegments, Tr("Highway segments of the map"))
      ->type_name("N")
      ->capture_default_str();
  command.add_option("--areas", options_.areas, Tr("Speed areas of the map"))->type_name("N")->capture_default_str();
  command.add_option("--area-entry-every", options_.areaEntryEvery,
                     Tr("One vehicle in this many gets a speed-area entry (0: none)"))
      ->type_name("N")
      ->capture_default_str();
  command.add_flag("--all-day", options_.allDay,
                   Tr("Terminals report while parked too, from midnight to midnight (a fix every interval)"));
  command.add_flag("--force", force_,
                   Tr("Write also into a database or map folder that holds data simulate did not write"));
}

void SimulateCommand::FromJson(const nlohmann::json& arguments) {
  RequireJsonObject(arguments);
  options_.vehicles = JsonInt(arguments, "vehicles", options_.vehicles);
  options_.intervalSeconds = JsonInt(arguments, "interval", options_.intervalSeconds);
  JsonText(arguments, "day", options_.dayKey);
  JsonText(arguments, "seed", seedText_);
  options_.highwaySegments = JsonInt(arguments, "highwaySegments", options_.highwaySegments);
  options_.areas = JsonInt(arguments, "areas", options_.areas);
  options_.areaEntryEvery = JsonInt(arguments, "areaEntryEvery", options_.areaEntryEvery);
  if (arguments.contains("allDay")) {
    if (!arguments["allDay"].is_boolean()) throw ArgumentError(Tr("allDay must be true or false"));
    options_.allDay = arguments["allDay"].get<bool>();
  }
  if (arguments.contains("force")) {
    if (!arguments["force"].is_boolean()) throw ArgumentError(Tr("force must be true or false"));
    force_ = arguments["force"].get<bool>();
  }
}

void SimulateCommand::Setup() {
  options_.dayKey = DayKeyText(ReadableDay(options_.dayKey));
  if (options_.vehicles < 1 || options_.vehicles > 1000000) throw ArgumentError(Tr("--vehicles must be 1 to 1000000"));
  if (options_.intervalSeconds < 1 || options_.intervalSeconds > 3600) {
    throw ArgumentError(Tr("--interval must be 1 to 3600 seconds"));
  }
  if (options_.highwaySegments < 1 || options_.areas < 0 || options_.areaEntryEvery < 0) {
    throw ArgumentError(Tr("--highway-segments must be positive, --areas and --area-entry-every not negative"));
  }
  if (seedText_.empty() || seedText_.size() > 19 || seedText_.find_first_not_of("0123456789") != std::string::npos) {
    throw ArgumentError(Tr("--seed must be a whole number"));
  }
  options_.seed = std::stoull(seedText_);
}

void SimulateCommand::Run(CommandEnvironment& env) {
  const ConnectionSettings connection = env.Connection();
  ReportDatabase db;
  OpenRunSession(db, AllowingNewSqliteFile(connection), env.GetCaption());
  const std::filesystem::path mapFolder = env.StartDirectory() / "HighWay";
  // Simulated vehicles, fleets and fixes replace earlier ones and the map
  // files are written anew: not over a tracking service's data unless asked.
  const std::string foreignData = sim::ForeignDatabaseContents(db, options_.dayKey);
  const std::string foreignMaps = sim::ForeignMapFolderContents(mapFolder);
  if (!force_ && (!foreignData.empty() || !foreignMaps.empty())) {
    std::string found;
    if (!foreignData.empty()) found = TrFormat("the database {} holds {}", DatabaseName(connection), foreignData);
    if (!foreignMaps.empty()) {
      if (!found.empty()) found += Tr(", and ");
      found += TrFormat("the map folder {} holds {}", mapFolder.string(), foreignMaps);
    }
    throw ArgumentError(TrFormat(
        "simulate refused: {}, not written by simulate. simulate writes only into an empty database and map folder "
        "or into ones it wrote itself; --force writes anyway (simulated vehicles, fleets 9001 to 9005, their "
        "speed-area entries and fixes of {} are replaced, the map files overwritten)",
        found, options_.dayKey));
  }
  // Forced over others' data, the mark is not left: the next simulation asks again.
  options_.markDatabase = foreignData.empty();
  options_.markMapFolder = foreignMaps.empty();
  const auto summary = sim::Simulate(db, mapFolder, options_);
  if (!env.Summaries(*this)) return;
  env.Out() << TrFormat(
      "simulated {} vehicles ({} silent), {} fixes on {}; map: {} highway segments, {} speed areas, {} area entries\n",
      summary.vehicles, summary.silentVehicles, summary.fixes, options_.dayKey, summary.highwaySegments,
      summary.areas, summary.areaEntries);
}

}  // namespace cuserver
