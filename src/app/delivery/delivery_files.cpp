#include "app/delivery/delivery_files.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <unistd.h>

#include <fstream>

#include "app/command_report.hpp"
#include "app/command_summary.hpp"
#include "app/errors.hpp"
#include "reports/translate.hpp"

namespace cuserver {

std::vector<ReportSheet> DeliverySheets(const ConnectionSettings& connection, const DeliverySettings& settings,
                                        const DeliveryPeriod& period) {
  const std::vector<std::chrono::year_month_day> days = period.Days();
  std::vector<ReportSheet> sheets;
  if (settings.summary) {
    const SummaryQuery query{days.front(), days.back(), SummaryPer::Vehicle, {}, {}};
    sheets.push_back(SummarySheet(query, ReadSummary(connection, query)));
  }
  std::vector<ReportQuery> queries;
  for (ReportKind kind : settings.kinds) {
    ReportQuery query;
    query.day = days.front();
    if (days.size() > 1) query.to = days.back();
    query.kind = kind;
    queries.push_back(std::move(query));
  }
  for (ReportSheet& sheet : ReadReportSheets(connection, queries)) sheets.push_back(std::move(sheet));
  return sheets;
}

std::filesystem::path WriteDeliveryFile(const std::filesystem::path& folder, const DeliveryPeriod& period,
                                        const std::vector<ReportSheet>& sheets,
                                        std::chrono::system_clock::time_point made) {
  const std::filesystem::path path = folder / period.FileName();
  const std::filesystem::path temporary = folder / fmt::format(".{}.{}.part", period.FileName(), ::getpid());
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw CannotRunError(TrFormat("the report folder {} cannot be made: {}", folder.string(), error.message()));
  const std::string workbook = ReportXlsx(sheets, made);
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << workbook;
    file.close();
    if (!file) {
      std::filesystem::remove(temporary, error);
      throw CannotRunError(TrFormat("the report file {} cannot be written", temporary.string()));
    }
  }
  std::filesystem::rename(temporary, path, error);
  if (error) {
    const std::string reason = error.message();
    std::filesystem::remove(temporary, error);
    throw CannotRunError(TrFormat("the report file {} cannot be written: {}", path.string(), reason));
  }
  return path;
}

MailMessage DeliveryMail(const DeliverySettings& settings, const DeliveryPeriod& period,
                         const std::filesystem::path& file) {
  std::vector<std::string_view> titles;
  if (settings.summary) titles.push_back(ReportKindTitle(ReportKind::Summary));
  for (ReportKind kind : settings.kinds) titles.push_back(ReportKindTitle(kind));
  MailMessage message;
  message.subject = fmt::format("CUServer {} {}", period.month ? "月报表" : "日报表", period.Shown());
  message.body = fmt::format("{} 的报表（{}）见附件 {}。\r\n\r\n这封邮件由 CUServer 自动发送。\r\n", period.Shown(),
                             fmt::join(titles, "、"), file.filename().string());
  message.attachments.push_back(file);
  return message;
}

}  // namespace cuserver
