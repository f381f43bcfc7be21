#pragma once

#include <string_view>

#include "app/service/http_server.hpp"
#include "db/session.hpp"

namespace cuserver {

// Rows returned by the JSON route when the request gives no limit.
inline constexpr std::size_t kDefaultReportPageRows = 1000;

// GET /api/reports, /api/reports.csv and /api/reports.xlsx ?day=DAYKEY&kind=KIND[&vehicle=SIMID][&offset=N&limit=N]: the JSON
// {day, kind, total, columns, rows}, or the file as an attachment named after
// the report and the day. 400 for a bad day, kind or number, 503 when the
// database cannot be read.
// &filter=TEXT keeps the rows whose SIMID, plate or fleet holds TEXT;
// &sort=COLUMN[&order=asc|desc] orders them (400 for a column the kind lacks).
// kind=quality&flagged=1 keeps the vehicles with a count above 0.
void AnswerReports(const ConnectionSettings& connection, const HttpRequest& request, HttpResponse& response);

// GET /api/summary?day=DAYKEY: {day, kinds: {KIND: rows}, vehicles,
// kilometres, speedingEpisodes, stops}; 400 for a bad day, 503 when the
// database cannot be read.
void AnswerSummary(const ConnectionSettings& connection, const HttpRequest& request, HttpResponse& response);

}  // namespace cuserver
