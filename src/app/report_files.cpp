#include "app/report_files.hpp"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <xlsxwriter.h>

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

// Terminal columns a text takes: East Asian wide characters (the plates'
// and fleets' Chinese) take two.
std::size_t ShownLength(const std::string& text) {
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

// A file name of its own in the temporary folder, removed when it goes.
class TemporaryFile {
 public:
  TemporaryFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cuserver-report-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot make a temporary file for the workbook");
    ::close(fd);
    path_ = pattern;
  }
  ~TemporaryFile() { std::remove(path_.c_str()); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string ReportFileStem(const ReportSheet& sheet) {
  return fmt::format("{}-{}", ReportKindName(sheet.kind), sheet.day);
}

std::string ReportCsv(const ReportPage& page) {
  std::string out = "\xEF\xBB\xBF";
  AppendCsvLine(out, page.columns);
  for (const auto& row : page.rows) AppendCsvLine(out, row);
  return out;
}

nlohmann::json ReportJson(const ReportSheet& sheet) {
  return {{"day", sheet.day},
          {"kind", ReportKindName(sheet.kind)},
          {"table", sheet.page.table},
          {"total", sheet.page.total},
          {"tableMissing", sheet.page.tableMissing},
          {"columns", sheet.page.columns},
          {"rows", sheet.page.rows}};
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
    return fmt::format("{} {} ({}): {}\n", ReportKindName(sheet.kind), sheet.day, page.table, kNoSuchTable);
  }
  std::string out = fmt::format("{} {} ({}): {} rows\n", ReportKindName(sheet.kind), sheet.day, page.table, page.total);
  out += line(page.columns);
  for (const auto& row : page.rows) out += line(row);
  return out;
}

std::string ReportXlsx(const std::vector<ReportSheet>& sheets) {
  TemporaryFile file;
  lxw_workbook* workbook = workbook_new(file.Path().c_str());
  if (workbook == nullptr) throw std::runtime_error("libxlsxwriter cannot make a workbook");
  lxw_format* bold = workbook_add_format(workbook);
  format_set_bold(bold);
  for (const ReportSheet& sheet : sheets) {
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook, ReportFileStem(sheet).c_str());
    const auto& columns = sheet.page.columns;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      worksheet_write_string(worksheet, 0, static_cast<lxw_col_t>(c), columns[c].c_str(), bold);
    }
    for (std::size_t r = 0; r < sheet.page.rows.size(); ++r) {
      const auto& row = sheet.page.rows[r];
      for (std::size_t c = 0; c < row.size(); ++c) {
        if (row[c].empty()) continue;
        worksheet_write_string(worksheet, static_cast<lxw_row_t>(r + 1), static_cast<lxw_col_t>(c), row[c].c_str(),
                               nullptr);
      }
    }
  }
  const lxw_error error = workbook_close(workbook);
  if (error != LXW_NO_ERROR) throw std::runtime_error(fmt::format("cannot write the workbook: {}", lxw_strerror(error)));
  std::ifstream in(file.Path(), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace cuserver
