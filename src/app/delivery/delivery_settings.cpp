#include "app/delivery/delivery_settings.hpp"

#include <fmt/format.h>

#include "app/errors.hpp"
#include "db/session.hpp"
#include "reports/ini_file.hpp"
#include "run/day_key.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

constexpr const char* kSection = "Delivery";

[[noreturn]] void Refuse(const std::filesystem::path& file, const char* key, const std::string& value,
                         const std::string& advice) {
  throw SettingsError(TrFormat("settings file {}: key {} of section [{}] is \"{}\": {}", file.string(), key, kSection, value, advice));
}

[[noreturn]] void RefuseMissing(const std::filesystem::path& file, const char* key, const std::string& why) {
  throw SettingsError(TrFormat("settings file {}: key {} of section [{}] is missing or empty: {}", file.string(), key, kSection, why));
}

std::string Trimmed(std::string_view text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  const auto end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// The non-empty items of a list separated by commas (or the Chinese comma).
std::vector<std::string> ListItems(const std::string& text) {
  std::string plain = text;
  for (std::size_t at; (at = plain.find("，")) != std::string::npos;) plain.replace(at, std::string("，").size(), ",");
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= plain.size()) {
    const std::size_t comma = std::min(plain.find(',', start), plain.size());
    if (std::string item = Trimmed(std::string_view(plain).substr(start, comma - start)); !item.empty()) {
      items.push_back(std::move(item));
    }
    start = comma + 1;
  }
  return items;
}

std::string Folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool Switch(const IniFile& ini, const char* key, const std::filesystem::path& file) {
  const std::string value = ini.Value(kSection, key);
  const std::string folded = Folded(value);
  if (folded.empty() || folded == "false" || folded == "0" || folded == "no") return false;
  if (folded == "true" || folded == "1" || folded == "yes") return true;
  Refuse(file, key, value, Tr("use true or false"));
}

// An address as the SMTP envelope takes it: something@host, no blanks or brackets.
bool LooksLikeAddress(const std::string& address) {
  const auto at = address.find('@');
  return at != std::string::npos && at > 0 && at + 1 < address.size() &&
         address.find_first_of(" \t<>,;\"") == std::string::npos;
}

}  // namespace

DeliverySettings ReadDeliverySettings(const IniFile& ini, const std::filesystem::path& file,
                                      const std::filesystem::path& startDirectory) {
  DeliverySettings settings;
  const std::string reports = ini.Value(kSection, "Reports");
  const std::vector<std::string> names = ListItems(reports);
  std::vector<bool> chosen(AllReportKinds().size(), names.empty());
  for (const std::string& name : names) {
    if (Folded(name) == "summary") {
      settings.summary = true;
    } else if (const auto kind = ParseReportKind(Folded(name))) {
      chosen[static_cast<std::size_t>(*kind)] = true;
    } else {
      Refuse(file, "Reports", reports,
             TrFormat("\"{}\" is not a report kind; use summary, mileage, speeding, parking, fatigue, lostcontact, "
                      "linealarms or quality, separated by commas",
                      name));
    }
  }
  for (ReportKind kind : AllReportKinds()) {
    if (chosen[static_cast<std::size_t>(kind)]) settings.kinds.push_back(kind);
  }
  settings.daily = Switch(ini, "Daily", file);
  settings.monthly = Switch(ini, "Monthly", file);

  const std::string folder = ini.Value(kSection, "Folder");
  settings.folder = (startDirectory / (folder.empty() ? std::string("reports") : folder)).lexically_normal();

  settings.smtpUrl = ini.Value(kSection, "SmtpUrl");
  const std::string url = Folded(settings.smtpUrl);
  const bool known = (url.starts_with("smtp://") && url.size() > 7) || (url.starts_with("smtps://") && url.size() > 8);
  if (!url.empty() && !known) {
    Refuse(file, "SmtpUrl", settings.smtpUrl, Tr("use smtp://host:port or smtps://host:port"));
  }
  settings.smtpUser = ini.Value(kSection, "SmtpUser");
  settings.smtpPassword = ini.Value(kSection, "SmtpPassword");
  settings.from = ini.Value(kSection, "From");
  if (!settings.from.empty() && !LooksLikeAddress(settings.from)) {
    Refuse(file, "From", settings.from, Tr("use one mail address, such as reports@example.com"));
  }
  const std::string to = ini.Value(kSection, "To");
  for (const std::string& address : ListItems(to)) {
    if (!LooksLikeAddress(address)) {
      Refuse(file, "To", to, TrFormat("\"{}\" is not a mail address; separate several with commas", address));
    }
    settings.to.push_back(address);
  }
  if (settings.Scheduled()) RequireMailSettings(settings, file);
  return settings;
}

void RequireMailSettings(const DeliverySettings& settings, const std::filesystem::path& file) {
  const std::string why = Tr("sending the reports needs it (when Daily or Monthly is true, and for deliver without --dry-run)");
  if (settings.smtpUrl.empty()) RefuseMissing(file, "SmtpUrl", why);
  if (settings.from.empty()) RefuseMissing(file, "From", why);
  if (settings.to.empty()) RefuseMissing(file, "To", why);
}

std::string DeliveryPeriod::Key() const {
  const std::string day = DayKeyText(first);
  return month ? day.substr(0, 6) : day;
}

std::string DeliveryPeriod::Shown() const {
  const std::string key = Key();
  return month ? fmt::format("{}-{}", key.substr(0, 4), key.substr(4, 2))
               : fmt::format("{}-{}-{}", key.substr(0, 4), key.substr(4, 2), key.substr(6, 2));
}

std::vector<std::chrono::year_month_day> DeliveryPeriod::Days() const {
  if (!month) return {first};
  std::vector<std::chrono::year_month_day> days;
  const std::chrono::year_month_day_last last{first.year(), std::chrono::month_day_last{first.month()}};
  for (std::chrono::sys_days day{first}; day <= std::chrono::sys_days{last}; day += std::chrono::days{1}) {
    days.emplace_back(day);
  }
  return days;
}

std::string DeliveryPeriod::FileName() const { return "cuserver-" + Key() + ".xlsx"; }

DeliveryPeriod ReadableMonth(const std::string& text) {
  std::string digits = text;
  if (digits.size() == 7 && digits[4] == '-') digits.erase(4, 1);
  std::chrono::year_month_day first;
  if (digits.size() != 6 || !ParseDayKey(digits + "01", first)) {
    throw ArgumentError(TrFormat("the month must be a real month as yyyymm or yyyy-mm, not \"{}\"", text));
  }
  return {first, true};
}

}  // namespace cuserver
