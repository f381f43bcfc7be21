#include "reports/report_rows.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "reports/sql_text.hpp"

namespace cuserver {

std::string_view TextPiece(std::string_view text, std::size_t pos, std::size_t count) {
  if (pos >= text.size()) return {};
  return text.substr(pos, count);
}

std::string MonthlyTableName(std::string_view prefix, std::string_view time) {
  std::string name(prefix);
  name += TextPiece(time, 0, 4);
  name += TextPiece(time, 5, 2);
  return name;
}

bool AcceptTableName(const std::string& table, std::string_view simId, std::string_view time,
                     Diagnostics* diagnostics) {
  if (IsPlainTableName(table)) return true;
  if (diagnostics != nullptr) {
    diagnostics->RowRefused(table, simId,
                            fmt::format("invalid table name formed from the time '{}'", time));
  }
  return false;
}

int LoadedEnd(const TrackBuffer& track) { return LoadedEnd(track, track.Count()); }

int LoadedEnd(const TrackBuffer& track, int n) {
  const int last = std::clamp(n, 0, track.Count());
  int i = 0;
  while (i < last && !track[static_cast<std::size_t>(i)].simId.empty()) ++i;
  return i;
}

}  // namespace cuserver
