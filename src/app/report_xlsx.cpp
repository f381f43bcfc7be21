// The report workbooks: typed cells under the control page's captions.

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>
#include <xlsxwriter.h>

#include "app/report_files.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

constexpr double kSecondsPerDay = 86400;
constexpr std::size_t kWidestColumn = 60;  // characters; a longer value wraps out of sight rather than widening
constexpr lxw_row_t kTitleRow = 0;
constexpr lxw_row_t kHeaderRow = 1;

// A file name of its own in the temporary folder, removed when it goes.
class TemporaryFile {
 public:
  TemporaryFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cuserver-report-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error(Tr("cannot make a temporary file for the workbook"));
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

// Stored numbers may be padded (CHAR columns); anything else about them is
// kept as text.
std::optional<double> NumberOf(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// "yyyy-mm-dd hh:mm:ss", a real date and time from 1900 on (Excel's first day).
std::optional<lxw_datetime> TimeOf(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  int fields[6] = {};
  constexpr std::size_t kAt[6] = {0, 5, 8, 11, 14, 17};
  for (int i = 0; i < 6; ++i) {
    const char* first = text.data() + kAt[i];
    const char* last = first + (i == 0 ? 4 : 2);
    const auto [end, error] = std::from_chars(first, last, fields[i]);
    if (error != std::errc() || end != last) return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year{fields[0]}, std::chrono::month{static_cast<unsigned>(fields[1])},
                                         std::chrono::day{static_cast<unsigned>(fields[2])}};
  if (!date.ok() || fields[0] < 1900 || fields[3] > 23 || fields[4] > 59 || fields[5] > 59) return std::nullopt;
  return lxw_datetime{fields[0], fields[1], fields[2], fields[3], fields[4], static_cast<double>(fields[5])};
}

// A column of a sheet: the stored column it shows, and how.
struct SheetColumn {
  std::size_t source = 0;
  ReportColumnLook look;
  bool hours = false;  // a Seconds column's duration again, as [h]:mm, which a sum keeps as hours
  std::size_t width = 0;
};

std::vector<SheetColumn> SheetColumns(const ReportSheet& sheet) {
  std::vector<SheetColumn> columns;
  const std::vector<ReportColumnLook> looks = ReportColumnLooks(sheet.kind, sheet.page.columns);
  for (std::size_t i = 0; i < looks.size(); ++i) {
    columns.push_back({i, looks[i], false, ShownLength(looks[i].caption)});
    if (looks[i].value == ColumnValue::Seconds) columns.push_back({i, looks[i], true, ShownLength(looks[i].hoursCaption)});
  }
  return columns;
}

struct Formats {
  lxw_format* title;
  lxw_format* header;
  lxw_format* time;
  lxw_format* hours;
  lxw_format* coordinate;
};

Formats AddFormats(lxw_workbook* workbook) {
  Formats formats{};
  formats.title = workbook_add_format(workbook);
  format_set_bold(formats.title);
  format_set_font_size(formats.title, 12);
  formats.header = workbook_add_format(workbook);
  format_set_bold(formats.header);
  format_set_bottom(formats.header, LXW_BORDER_THIN);
  format_set_bg_color(formats.header, 0xE8E8E8);
  formats.time = workbook_add_format(workbook);
  format_set_num_format(formats.time, "yyyy-mm-dd hh:mm:ss");
  formats.hours = workbook_add_format(workbook);
  format_set_num_format(formats.hours, "[h]:mm");
  formats.coordinate = workbook_add_format(workbook);
  format_set_num_format(formats.coordinate, "0.000000");
  return formats;
}

// Writes a stored value as its column shows it; answers the characters it
// takes on screen.
std::size_t WriteCell(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const std::string& text,
                      const SheetColumn& column, const Formats& formats) {
  if (text.empty()) return 0;
  const ColumnValue value = column.look.value;
  if (value == ColumnValue::Number || value == ColumnValue::Seconds) {
    if (const auto number = NumberOf(text)) {
      if (!column.hours) {
        worksheet_write_number(sheet, row, col, *number, nullptr);
        return fmt::format("{}", *number).size();
      }
      worksheet_write_number(sheet, row, col, *number / kSecondsPerDay, formats.hours);
      return fmt::format("{}:00", std::llround(*number) / 3600).size();
    }
    if (column.hours) return 0;  // the seconds column beside it keeps the text
  } else if (value == ColumnValue::Coordinate) {
    if (const auto number = NumberOf(text)) {
      const double rounded = std::round(*number * 1e6) / 1e6;
      worksheet_write_number(sheet, row, col, rounded, formats.coordinate);
      return fmt::format("{:.6f}", rounded).size();
    }
  } else if (value == ColumnValue::Time) {
    if (auto time = TimeOf(text)) {
      worksheet_write_datetime(sheet, row, col, &*time, formats.time);
      return text.size();
    }
  }
  worksheet_write_string(sheet, row, col, text.c_str(), nullptr);
  return ShownLength(text);
}

std::string LocalTimeText(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string ShownDay(const std::string& day) {
  return day.size() == 8 ? fmt::format("{}-{}-{}", day.substr(0, 4), day.substr(4, 2), day.substr(6)) : day;
}

// "超速 2014-03-19  筛选“云A”  生成于 2026-01-05 08:30:00"; a period "2014-03-01 至 2014-03-31"
std::string TitleOf(const ReportSheet& sheet, const std::string& made) {
  const std::string day =
      sheet.to.empty() ? ShownDay(sheet.day) : fmt::format("{} 至 {}", ShownDay(sheet.day), ShownDay(sheet.to));
  return fmt::format("{} {}{}  生成于 {}", ReportKindTitle(sheet.kind), day,
                     sheet.chosenBy.empty() ? "" : "  " + sheet.chosenBy, made);
}

void WriteSheet(lxw_workbook* workbook, const ReportSheet& sheet, const std::string& name, const std::string& made,
                const Formats& formats) {
  lxw_worksheet* worksheet = workbook_add_worksheet(workbook, name.c_str());
  if (worksheet == nullptr) throw std::runtime_error(TrFormat("libxlsxwriter refuses the sheet name {}", name));
  worksheet_write_string(worksheet, kTitleRow, 0, TitleOf(sheet, made).c_str(), formats.title);
  std::vector<SheetColumn> columns = SheetColumns(sheet);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const std::string_view caption = columns[c].hours ? columns[c].look.hoursCaption : columns[c].look.caption;
    worksheet_write_string(worksheet, kHeaderRow, static_cast<lxw_col_t>(c), std::string(caption).c_str(),
                           formats.header);
  }
  const auto& rows = sheet.page.rows;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto row = static_cast<lxw_row_t>(kHeaderRow + 1 + r);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].source >= rows[r].size()) continue;
      const std::size_t shown =
          WriteCell(worksheet, row, static_cast<lxw_col_t>(c), rows[r][columns[c].source], columns[c], formats);
      columns[c].width = std::max(columns[c].width, shown);
    }
  }
  if (sheet.page.tableMissing) {
    worksheet_write_string(worksheet, kHeaderRow + 1, 0,
                           fmt::format("{}（{}）", kNoSuchTable, sheet.page.table).c_str(), nullptr);
  }
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const double width = static_cast<double>(std::min(columns[c].width, kWidestColumn) + 2);
    worksheet_set_column(worksheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), width, nullptr);
  }
  worksheet_freeze_panes(worksheet, kHeaderRow + 1, 0);
  if (!columns.empty()) {
    worksheet_autofilter(worksheet, kHeaderRow, 0, static_cast<lxw_row_t>(kHeaderRow + rows.size()),
                         static_cast<lxw_col_t>(columns.size() - 1));
  }
}

}  // namespace

std::string ReportXlsx(const std::vector<ReportSheet>& sheets, std::chrono::system_clock::time_point made) {
  TemporaryFile file;
  lxw_workbook* workbook = workbook_new(file.Path().c_str());
  if (workbook == nullptr) throw std::runtime_error(Tr("libxlsxwriter cannot make a workbook"));
  const Formats formats = AddFormats(workbook);
  const std::string madeText = LocalTimeText(made);
  std::set<std::string> names;
  try {
    for (const ReportSheet& sheet : sheets) {
      // Sheet names are unique: a kind asked for twice gets a number.
      std::string name(ReportKindTitle(sheet.kind));
      for (int n = 2; !names.insert(name).second; ++n) name = fmt::format("{}（{}）", ReportKindTitle(sheet.kind), n);
      WriteSheet(workbook, sheet, name, madeText, formats);
    }
  } catch (...) {
    workbook_close(workbook);
    throw;
  }
  const lxw_error error = workbook_close(workbook);
  if (error != LXW_NO_ERROR) throw std::runtime_error(TrFormat("cannot write the workbook: {}", lxw_strerror(error)));
  std::ifstream in(file.Path(), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace cuserver
