#include "app/environment.hpp"

#include <fmt/format.h>

#include <utility>

#include "app/command.hpp"
#include "app/errors.hpp"
#include "reports/translate.hpp"

namespace cuserver {

std::filesystem::path ResolveConfigFile(const std::string& configOption, const char* environmentValue,
                                        const std::filesystem::path& startDirectory) {
  std::filesystem::path chosen = "gpsserver.ini";
  if (!configOption.empty()) {
    chosen = configOption;
  } else if (environmentValue != nullptr && *environmentValue != '\0') {
    chosen = environmentValue;
  }
  return chosen.is_absolute() ? chosen : startDirectory / chosen;
}

CommandEnvironment::CommandEnvironment(std::filesystem::path startDirectory,
                                       std::filesystem::path configFile, std::ostream& out,
                                       Caption& caption, Diagnostics& diagnostics)
    : startDirectory_(std::move(startDirectory)),
      configFile_(std::move(configFile)),
      out_(out),
      caption_(caption),
      diagnostics_(diagnostics) {}

const IniFile& CommandEnvironment::Settings() {
  if (!settings_) {
    settings_ = IniFile::Load(configFile_);
    if (!settings_) {
      throw SettingsError(
          TrFormat("settings file {} is missing or cannot be read", configFile_.string()));
    }
  }
  return *settings_;
}

ConnectionSettings CommandEnvironment::Connection() {
  Settings();
  return ReadConnectionSettings(configFile_, startDirectory_);
}

void CommandEnvironment::StartMap() {
  MapSettings mapSettings = ReadMapSettings(Settings(), startDirectory_);
  diagnostics_.Info(fmt::format("开始装载地图.({})", mapSettings.geoset.string()));
  try {
    // Features the map cannot use are told with the run's other notes.
    auto map = CreateMapServices(mapSettings.toleranceMetres,
                                 [this](const std::string& note) { diagnostics_.Info(note); });
    map->LoadGeoset(mapSettings.geoset);
    ownedMap_ = std::move(map);
  } catch (const std::exception& error) {
    throw CannotRunError(fmt::format("CUServerDlg::OnInitDialog() ERROR description:{}", error.what()));
  }
  map_ = ownedMap_.get();
}

MapServices& CommandEnvironment::Map() {
  if (map_ == nullptr) throw CannotRunError(Tr("the map is not loaded"));
  return *map_;
}

bool CommandEnvironment::Summaries(const Command& command) const {
  return verbosity_ != Verbosity::Quiet && !command.JsonOutput();
}

void RunCommand(Command& command, CommandEnvironment& env) {
  if (command.NeedsMap() && !env.HasMap()) env.StartMap();
  command.Run(env);
}

}  // namespace cuserver
