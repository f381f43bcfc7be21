#include "reports/settings.hpp"

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

}  // namespace

ReportSettings LoadReportSettings(const std::string& simId, const std::filesystem::path& file,
                                  const SpeedLimitTable& speedLimits, Diagnostics& diagnostics) {
  const std::optional<IniFile> loaded = IniFile::Load(file);
  const IniFile ini = loaded ? *loaded : IniFile::Parse("");
  const auto value = [&](std::string_view key) { return ini.Value(kSection, key); };
  Messages messages;

  // USECAR, BEGINTIME and ENDTIME are validated only; nothing uses them.
  if (!LengthIn(value("USECAR"), 4, 5)) messages.Raise(kFlagMessage);
  if (value("BEGINTIME").size() != 5) messages.Raise(kTimeMessage);
  if (value("ENDTIME").size() != 5) messages.Raise(kTimeMessage);

  ReportSettings settings;
  const std::string general = value("GENERALWAY");
  if (!LengthIn(general, 2, 3)) messages.Raise(kSpeedMessage);
  settings.generalLimit = LeadingInt(general);
  const std::string highway = value("HIGHWAY");
  if (!LengthIn(highway, 2, 3)) messages.Raise(kSpeedMessage);
  settings.highwayLimit = LeadingInt(highway);
  const std::string cap = value("HIGHSPEED");
  settings.highSpeedCap = LengthIn(cap, 2, 3) ? LeadingInt(cap) : 1000;
  const std::string span = value("SPEEDTIMESPAN");
  settings.minEpisodeSeconds = LengthIn(span, 2, 3) ? LeadingInt(span) : 0;

  messages.CountOn(diagnostics);

  const auto own = std::find_if(speedLimits.begin(), speedLimits.end(),
                                [&](const SpeedLimitEntry& entry) { return entry.simId == simId; });
  if (own != speedLimits.end()) {
    const int ownGeneral = LeadingInt(own->alarmSpeed);
    const int ownHighway = LeadingInt(own->highAlarmSpeed);
    if (ownGeneral > kOwnLimitFloor) settings.generalLimit = ownGeneral;
    if (ownHighway > kOwnLimitFloor) settings.highwayLimit = ownHighway;
  }
  return settings;
}

}  // namespace cuserver
