#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "db/report_reader.hpp"

namespace cuserver {

// One kind's rows of one day or period (or a period's summary), as a file or
// a sheet shows them.
struct ReportSheet {
  std::string day;   // yyyymmdd: the day, or the period's first
  std::string to;    // yyyymmdd: the period's last day; empty for a day
  ReportKind kind = ReportKind::Mileage;
  ReportPage page;
  std::string chosenBy;  // the vehicle, filter or flag the rows were chosen by, as a title tells it; empty: all
};

// "<kind>-<day>" or "<kind>-<from>-<to>", the name of a file without its extension.
std::string ReportFileStem(const ReportSheet& sheet);

// UTF-8 with a byte order mark (so that spreadsheets read it as UTF-8), CRLF
// line ends, a field quoted when it holds a comma, quote, CR or LF (RFC 4180).
// The header holds the control page's captions; the values are as stored.
std::string ReportCsv(const ReportSheet& sheet);

// {"day","kind","total","columns","rows"}, and "from","to" for a period
nlohmann::json ReportJson(const ReportSheet& sheet);

// Columns padded to their widest value, one header line.
std::string ReportTable(const ReportSheet& sheet);

// An XLSX workbook, one sheet per report under the tab's name: a title row
// (report, day, what the rows were chosen by, when made), a frozen header row
// of captions with an autofilter, then the rows. Numbers, times, durations
// and coordinates are written as such; a value that does not read as one
// stays text. Throws std::runtime_error when libxlsxwriter cannot make it.
std::string ReportXlsx(const std::vector<ReportSheet>& sheets, std::chrono::system_clock::time_point made);

// Terminal columns a text takes: East Asian wide characters (the plates'
// and fleets' Chinese) take two.
std::size_t ShownLength(std::string_view text);

}  // namespace cuserver
