#include "app/report_files.hpp"

#include <algorithm>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace cuserver {
namespace {

void AppendCsvField(std::string& out, const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) {
    out += value;
    return;
  }
  out.push_back('"');
  for (char c : value) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendCsvLine(std::string& out, const std::vector<std::string>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out.push_back(',');
    AppendCsvField(out, values[i]);
  }
  out += "\r\n";
}

}  // namespace

std::size_t ShownLength(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k) code = (code << 6) | (text[i + k] & 0x3F);
    const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                      (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                      (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                      (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
    columns += wide ? 2 : 1;
    i += length;
  }
  return columns;
}

namespace {

std::string PeriodText(const ReportSheet& sheet) {
  return sheet.to.empty() ? sheet.day : sheet.day + "-" + sheet.to;
}

}  // namespace

std::string ReportFileStem(const ReportSheet& sheet) {
  if (!sheet.to.empty()) return fmt::format("{}-{}-{}", ReportKindName(sheet.kind), sheet.day, sheet.to);
  return fmt::format("{}-{}", ReportKindName(sheet.kind), sheet.day);
}

std::string ReportCsv(const ReportSheet& sheet) {
  std::string out = "\xEF\xBB\xBF";
  std::vector<std::string> captions;
  for (const ReportColumnLook& look : ReportColumnLooks(sheet.kind, sheet.page.columns)) captions.emplace_back(look.caption);
  AppendCsvLine(out, captions);
  for (const auto& row : sheet.page.rows) AppendCsvLine(out, row);
  return out;
}

nlohmann::json ReportJson(const ReportSheet& sheet) {
  nlohmann::json json{{"day", sheet.day},
                      {"kind", ReportKindName(sheet.kind)},
                      {"table", sheet.page.table},
                      {"total", sheet.page.total},
                      {"tableMissing", sheet.page.tableMissing},
                      {"columns", sheet.page.columns},
                      {"rows", sheet.page.rows}};
  if (!sheet.to.empty()) {
    json["from"] = sheet.day;
    json["to"] = sheet.to;
  }
  return json;
}

std::string ReportTable(const ReportSheet& sheet) {
  const ReportPage& page = sheet.page;
  std::vector<std::size_t> widths;
  for (const auto& column : page.columns) widths.push_back(ShownLength(column));
  for (const auto& row : page.rows) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], ShownLength(row[i]));
  }
  const auto line = [&](const std::vector<std::string>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out += "  ";
      out += values[i];
      if (i + 1 < values.size()) out.append(widths[i] - ShownLength(values[i]), ' ');
    }
    return out + '\n';
  };
  if (page.tableMissing) {
    return fmt::format("{} {} ({}): {}\n", ReportKindName(sheet.kind), PeriodText(sheet), page.table, kNoSuchTable);
  }
  std::string out = fmt::format("{} {}{}: {} rows\n", ReportKindName(sheet.kind), PeriodText(sheet),
                                page.table.empty() ? "" : " (" + page.table + ")", page.total);
  out += line(page.columns);
  for (const auto& row : page.rows) out += line(row);
  return out;
}

}  // namespace cuserver
