#include "reports/settings.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "reports/ini_file.hpp"
#include "reports/text_number.hpp"

namespace cuserver {

namespace {

constexpr std::string_view kSection = "General";
constexpr std::string_view kFlagMessage = "你输入的判断格式不正确，这里只能输入TRUE或者FALSE";
constexpr std::string_view kTimeMessage = "你输入的时间格式不正确，正确时间格式是：06:30或者20:30!";
constexpr std::string_view kSpeedMessage = "你输入的速度阀值不正确，正确格式50~150之间的数字";
constexpr int kOwnLimitFloor = 10;

bool LengthIn(const std::string& value, std::size_t low, std::size_t high) {
  return value.size() >= low && value.size() <= high;
}

// Messages of one call, each counted once however many keys raised it.
class Messages {
 public:
  void Raise(std::string_view message) {
    if (std::find(raised_.begin(), raised_.end(), message) == raised_.end()) raised_.push_back(message);
  }
  void CountOn(Diagnostics& diagnostics) const {
    for (auto message : raised_) diagnostics.CountMessage(message);
  }

 private:
  std::vector<std::string_view> raised_;
};

// A speed limit key's value and whether it can be trusted.
struct LimitKey {
  std::string_view key;
  std::string text;
  bool faulty = false;
};

// What the file itself says, before any vehicle's own limits.
struct FileSettings {
  ReportSettings settings;
  bool found = false;
  LimitKey general{"GENERALWAY", {}, false};
  LimitKey highway{"HIGHWAY", {}, false};
};

FileSettings ReadSettingsFile(const std::filesystem::path& file, Messages& messages) {
  const std::optional<IniFile> loaded = IniFile::Load(file);
  const IniFile ini = loaded ? *loaded : IniFile::Parse("");
  const auto value = [&](std::string_view key) { return ini.Value(kSection, key); };
  FileSettings read;
  read.found = loaded.has_value();

  // USECAR, BEGINTIME and ENDTIME are validated only; nothing uses them.
  if (!LengthIn(value("USECAR"), 4, 5)) messages.Raise(kFlagMessage);
  if (value("BEGINTIME").size() != 5) messages.Raise(kTimeMessage);
  if (value("ENDTIME").size() != 5) messages.Raise(kTimeMessage);

  for (LimitKey* limit : {&read.general, &read.highway}) {
    limit->text = value(limit->key);
    limit->faulty = !LengthIn(limit->text, 2, 3);
    if (limit->faulty) messages.Raise(kSpeedMessage);
  }
  read.settings.generalLimit = LeadingInt(read.general.text);
  read.settings.highwayLimit = LeadingInt(read.highway.text);
  const std::string cap = value("HIGHSPEED");
  read.settings.highSpeedCap = LengthIn(cap, 2, 3) ? LeadingInt(cap) : 1000;
  const std::string span = value("SPEEDTIMESPAN");
  read.settings.minEpisodeSeconds = LengthIn(span, 2, 3) ? LeadingInt(span) : 0;
  return read;
}

// Names the file and the keys in force that must be fixed; empty when none.
std::string Fault(const std::filesystem::path& file, bool found, const std::vector<const LimitKey*>& faulty) {
  if (faulty.empty()) return {};
  std::string keys;
  for (const LimitKey* limit : faulty) keys += (keys.empty() ? "" : " and ") + std::string(limit->key);
  if (!found) {
    return fmt::format("{} is missing or cannot be read: its section [General] must set {} "
                       "(a speed limit of 2 or 3 digits, km/h)",
                       file.string(), keys);
  }
  std::string values;
  for (const LimitKey* limit : faulty) {
    if (!values.empty()) values += ", ";
    values += limit->text.empty() ? fmt::format("{} is missing", limit->key)
                                  : fmt::format("{}={} has {} characters", limit->key, limit->text, limit->text.size());
  }
  return fmt::format("{}: fix {} in section [General] (a speed limit of 2 or 3 digits, km/h): {}",
                     file.string(), keys, values);
}

}  // namespace

ReportSettings LoadReportSettings(const std::string& simId, const std::filesystem::path& file,
                                  const SpeedLimitTable& speedLimits, Diagnostics& diagnostics) {
  Messages messages;
  const FileSettings read = ReadSettingsFile(file, messages);
  messages.CountOn(diagnostics);

  ReportSettings settings = read.settings;
  bool ownGeneral = false;
  bool ownHighway = false;
  const auto own = std::find_if(speedLimits.begin(), speedLimits.end(),
                                [&](const SpeedLimitEntry& entry) { return entry.simId == simId; });
  if (own != speedLimits.end()) {
    const int general = LeadingInt(own->alarmSpeed);
    const int highway = LeadingInt(own->highAlarmSpeed);
    ownGeneral = general > kOwnLimitFloor;
    ownHighway = highway > kOwnLimitFloor;
    if (ownGeneral) settings.generalLimit = general;
    if (ownHighway) settings.highwayLimit = highway;
  }
  std::vector<const LimitKey*> faulty;
  if (read.general.faulty && !ownGeneral) faulty.push_back(&read.general);
  if (read.highway.faulty && !ownHighway) faulty.push_back(&read.highway);
  settings.limitFault = Fault(file, read.found, faulty);
  return settings;
}

std::string ReportSettingsFault(const std::filesystem::path& file) {
  Messages unused;
  const FileSettings read = ReadSettingsFile(file, unused);
  std::vector<const LimitKey*> faulty;
  for (const LimitKey* limit : {&read.general, &read.highway}) {
    if (limit->faulty) faulty.push_back(limit);
  }
  return Fault(file, read.found, faulty);
}

}  // namespace cuserver
