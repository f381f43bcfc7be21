#pragma once

#include <string_view>

#include "app/service/http_server.hpp"
#include "db/session.hpp"

namespace cuserver {

// Rows returned by the JSON route when the request gives no limit.
inline constexpr std::size_t kDefaultReportPageRows = 1000;

// GET /api/reports, /api/reports.csv and /api/reports.xlsx
// ?day=DAYKEY&kind=KIND[&vehicle=SIMID][&offset=N&limit=N], or from=&to= in
// place of day: the JSON {day, kind, total, columns, rows, dayState,
// dayStates} (and from, to for a period), or the file as an attachment named
// after the report and the day or period. 400 for a bad day, kind or number,
// 503 when the database cannot be read.
// &filter=TEXT keeps the rows whose SIMID, plate or fleet holds one of its
// terms; &sort=COLUMN[&order=asc|desc] orders them (400 for a column the
// kind lacks). kind=quality&flagged=1 keeps the vehicles with a count above 0.
// retryLimit judges the days' states as the schedule does.
void AnswerReports(const ConnectionSettings& connection, int retryLimit, const HttpRequest& request,
                   HttpResponse& response);

// GET /api/summary?day=DAYKEY: {day, kinds: {KIND: rows}, vehicles,
// kilometres, speedingEpisodes, stops, dayState, dayStates}.
// GET /api/summary, /api/summary.csv, /api/summary.xlsx ?from=&to=
// [&per=vehicle|day|fleet][&vehicle=][&filter=][&sort=FIELD&order=][&offset=&limit=]:
// the period's summary (SummaryJson, with dayState and dayStates), or the
// file. 400 for a bad day or argument, 503 when the database cannot be read.
void AnswerSummary(const ConnectionSettings& connection, int retryLimit, const HttpRequest& request,
                   HttpResponse& response);

}  // namespace cuserver
