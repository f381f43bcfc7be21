#include "run/day_key.hpp"

#include <fmt/format.h>

#include <ctime>

namespace cuserver {
namespace {

std::string_view Piece(std::string_view text, std::size_t pos, std::size_t count) {
  if (pos >= text.size()) return {};
  return text.substr(pos, count);
}

std::string DayTime(std::string_view dayKey, std::string_view timeOfDay) {
  return fmt::format("{}-{}-{} {}", Piece(dayKey, 0, 4), Piece(dayKey, 4, 2), Piece(dayKey, 6, 2),
                     timeOfDay);
}

}  // namespace

std::string MonthKeyOf(std::string_view dayKey) { return std::string(Piece(dayKey, 0, 6)); }

std::string DayBeginTime(std::string_view dayKey) { return DayTime(dayKey, "00:01:00"); }

std::string DayEndTime(std::string_view dayKey) { return DayTime(dayKey, "23:59:59"); }

bool ParseDayKey(std::string_view text, std::chrono::year_month_day& day) {
  const bool dashed = text.size() == 10;
  if (!dashed && text.size() != 8) return false;
  if (dashed && (text[4] != '-' || text[7] != '-')) return false;
  int value = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (dashed && (i == 4 || i == 7)) continue;
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  std::chrono::year_month_day parsed{std::chrono::year{value / 10000},
                                     std::chrono::month{static_cast<unsigned>(value / 100 % 100)},
                                     std::chrono::day{static_cast<unsigned>(value % 100)}};
  if (!parsed.ok()) return false;
  day = parsed;
  return true;
}

bool IsRunnableDayKey(std::string_view text, std::chrono::year_month_day today) {
  std::chrono::year_month_day day;
  if (!ParseDayKey(text, day)) return false;
  return day >= kFirstRunnableDay && day <= today;
}

std::string DayKeyText(std::chrono::year_month_day day) {
  return fmt::format("{:04}{:02}{:02}", static_cast<int>(day.year()),
                     static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
}

std::string ShownDayText(std::chrono::year_month_day day) {
  return fmt::format("{:04}-{:02}-{:02}", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                     static_cast<unsigned>(day.day()));
}

std::string DayOutOfRangeText(std::string_view given, std::chrono::year_month_day today) {
  return fmt::format("{}({})：日期应写作 {}，从 {} 到 {}", kDayOutOfRangeMessage, given.empty() ? "空" : given,
                     kDayFormats, ShownDayText(kFirstRunnableDay), ShownDayText(today));
}

std::chrono::year_month_day LocalToday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                     std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                     std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

}  // namespace cuserver
