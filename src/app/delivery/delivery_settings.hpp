#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "db/report_reader.hpp"

namespace cuserver {

class IniFile;

// Section [Delivery] of gpsserver.ini: which reports are sent, when, and how.
struct DeliverySettings {
  std::vector<ReportKind> kinds;  // Reports: the report kinds, in AllReportKinds() order
  bool summary = false;           // Reports holds "summary": the period's summary per vehicle
  bool daily = false;             // send each day once its day run is complete
  bool monthly = false;           // send each month once its last day's run is complete
  std::filesystem::path folder;   // where the workbooks are kept (absolute)
  std::string smtpUrl;            // smtp://host:port or smtps://host:port
  std::string smtpUser;           // empty: no login
  std::string smtpPassword;
  std::string from;
  std::vector<std::string> to;

  bool Scheduled() const { return daily || monthly; }
};

// Reads and checks the section. A missing section schedules nothing;
// Reports defaults to every report kind, Folder to "reports" (a relative
// folder is taken from the start directory). Throws SettingsError naming
// the file, the section and the key for a value that cannot be used, and
// for a missing SmtpUrl, From or To when Daily or Monthly is on.
DeliverySettings ReadDeliverySettings(const IniFile& settings, const std::filesystem::path& file,
                                      const std::filesystem::path& startDirectory);

// Throws SettingsError unless SmtpUrl, From and To are set (a send needs them).
void RequireMailSettings(const DeliverySettings& settings, const std::filesystem::path& file);

// One delivery: a day, or a month.
struct DeliveryPeriod {
  std::chrono::year_month_day first;  // the day, or the month's first day
  bool month = false;

  // "yyyymmdd" or "yyyymm": the ledger's key and the file name's part.
  std::string Key() const;
  // "2014-03-19" or "2014-03", as titles and messages show it.
  std::string Shown() const;
  // The days it covers, in order.
  std::vector<std::chrono::year_month_day> Days() const;
  // "cuserver-<key>.xlsx"
  std::string FileName() const;
};

// A month as yyyymm or yyyy-mm. Throws ArgumentError naming what was given.
DeliveryPeriod ReadableMonth(const std::string& text);

}  // namespace cuserver
