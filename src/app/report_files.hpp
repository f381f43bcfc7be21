#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "db/report_reader.hpp"

namespace cuserver {

// One kind's rows of one day, as a file or a sheet shows them.
struct ReportSheet {
  std::string day;   // yyyymmdd
  ReportKind kind = ReportKind::Mileage;
  ReportPage page;
};

// "<kind>-<day>", the name of a sheet and, with its extension, of a file.
std::string ReportFileStem(const ReportSheet& sheet);

// UTF-8 with a byte order mark (so that spreadsheets read it as UTF-8), CRLF
// line ends, a field quoted when it holds a comma, quote, CR or LF (RFC 4180).
std::string ReportCsv(const ReportPage& page);

// {"day","kind","total","columns","rows"}
nlohmann::json ReportJson(const ReportSheet& sheet);

// Columns padded to their widest value, one header line.
std::string ReportTable(const ReportSheet& sheet);

// An XLSX workbook, one sheet per report with one header row. Throws
// std::runtime_error when libxlsxwriter cannot make it.
std::string ReportXlsx(const std::vector<ReportSheet>& sheets);

}  // namespace cuserver
