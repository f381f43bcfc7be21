#pragma once

#include <string>
#include <string_view>

#include "reports/diagnostics.hpp"
#include "reports/track.hpp"

namespace cuserver {

// The characters [pos, pos + count) of a text, as many as exist (possibly none).
std::string_view TextPiece(std::string_view text, std::size_t pos, std::size_t count);

// A monthly report table: the prefix followed by the year (characters 0-3) and
// month (characters 5-6) of a track time, "speedalarm" + "2014-03-19 ..." ->
// "speedalarm201403".
std::string MonthlyTableName(std::string_view prefix, std::string_view time);

// True when the table name may go into a statement. Otherwise the row is
// refused here and recorded on the diagnostics, when there are any.
bool AcceptTableName(const std::string& table, std::string_view simId, std::string_view time,
                     Diagnostics* diagnostics);

// The scans' end: the first slot with an empty SIMID (the end mark), and never
// past `n` fixes nor past the loaded count.
int LoadedEnd(const TrackBuffer& track);
int LoadedEnd(const TrackBuffer& track, int n);

}  // namespace cuserver
