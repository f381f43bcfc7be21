#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "db/session.hpp"
#include "map/map_services.hpp"
#include "reports/catalog.hpp"
#include "reports/diagnostics.hpp"
#include "reports/ini_file.hpp"
#include "run/caption.hpp"

namespace cuserver {

class Command;

// How much a command tells besides its results: --quiet leaves errors only,
// --verbose adds debug lines.
enum class Verbosity { Quiet, Normal, Verbose };

// gpsserver.ini: the --config option when given, else $CUSERVER_CONFIG when
// set and not empty, else gpsserver.ini in the start directory. A relative
// path is taken from the start directory.
std::filesystem::path ResolveConfigFile(const std::string& configOption, const char* environmentValue,
                                        const std::filesystem::path& startDirectory);

// What a command runs with: the start directory (which holds report.ini, the
// run log and the HighWay map folder), the settings file, where results and
// captions go, the diagnostics, and the loaded map.
class CommandEnvironment {
 public:
  CommandEnvironment(std::filesystem::path startDirectory, std::filesystem::path configFile,
                     std::ostream& out, Caption& caption, Diagnostics& diagnostics);

  const std::filesystem::path& StartDirectory() const { return startDirectory_; }
  const std::filesystem::path& ConfigFile() const { return configFile_; }
  std::ostream& Out() { return out_; }
  Caption& GetCaption() { return caption_; }
  Diagnostics& GetDiagnostics() { return diagnostics_; }

  // The settings file, read once. Throws SettingsError when it is missing or
  // unreadable.
  const IniFile& Settings();
  // The connection settings. Throws SettingsError.
  ConnectionSettings Connection();

  // Loads the geoset named by the settings: "开始装载地图.(path)" goes to the
  // diagnostic output first; a geoset or table that cannot be read throws
  // CannotRunError naming the file and GDAL's reason.
  void StartMap();
  // Uses a map loaded elsewhere (by a service that loads it once).
  void UseMap(MapServices& map) { map_ = &map; }
  bool HasMap() const { return map_ != nullptr; }
  // The loaded map. Throws CannotRunError when none is loaded.
  MapServices& Map();

  // Speed limits loaded once by a service; null for a one-shot command, which
  // loads them itself before its run.
  const SpeedLimitTable* LoadedSpeedLimits() const { return speedLimits_; }
  void UseSpeedLimits(const SpeedLimitTable& limits) { speedLimits_ = &limits; }

  Verbosity GetVerbosity() const { return verbosity_; }
  void SetVerbosity(Verbosity verbosity) { verbosity_ = verbosity; }
  // Whether a command's end summary line is written: not with --quiet, nor
  // when --json replaces the text.
  bool Summaries(const Command& command) const;

  // Set by a service that is stopping: day runs then start no further
  // vehicle. Null for a one-shot command.
  const std::atomic<bool>* StopFlag() const { return stop_; }
  void UseStopFlag(const std::atomic<bool>& stop) { stop_ = &stop; }

 private:
  std::filesystem::path startDirectory_;
  std::filesystem::path configFile_;
  std::ostream& out_;
  Caption& caption_;
  Diagnostics& diagnostics_;
  std::optional<IniFile> settings_;
  std::unique_ptr<MapServices> ownedMap_;
  MapServices* map_ = nullptr;
  const SpeedLimitTable* speedLimits_ = nullptr;
  const std::atomic<bool>* stop_ = nullptr;
  Verbosity verbosity_ = Verbosity::Normal;
};

// Map start-up when the command needs it, then the command's work.
void RunCommand(Command& command, CommandEnvironment& env);

}  // namespace cuserver
