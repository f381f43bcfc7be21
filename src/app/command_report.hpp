#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/command.hpp"
#include "app/report_files.hpp"
#include "app/report_period.hpp"
#include "db/session.hpp"

namespace cuserver {

class CommandEnvironment;

// Opens a session that writes nothing (throws ConnectionRefusedError when the
// database refuses it).
void OpenReadingSession(ReportDatabase& db, const ConnectionSettings& connection);

// The sheets of the given kinds and days (or periods), read on a session of
// their own.
std::vector<ReportSheet> ReadReportSheets(const ConnectionSettings& connection, const std::vector<ReportQuery>& queries);

// The start of a refused kind's message.
inline const char* ReportKindChoice() {
  return Tr("the report kind is one of mileage, speeding, parking, fatigue, lostcontact, linealarms, quality");
}

// The files' shared options: throws ArgumentError for a format other than
// table, csv, json or xlsx; and for a workbook bound for the terminal.
void RequireReportFormat(const std::string& format);
void RefuseWorkbookOnTerminal(CommandEnvironment& env, const std::string& format, const std::string& output);
// The sheets as a table (each after the other), as a CSV file (the first) or a workbook.
std::string ReportText(const std::string& format, const std::vector<ReportSheet>& sheets);
// Names the days to compute on the diagnostic output, then writes the text
// to the output file (from the start directory), or to the command's output
// when none is given. Throws CannotRunError.
void WriteReportOutput(CommandEnvironment& env, const std::string& output, const std::string& text,
                       const PeriodState& state);

// The day's summary, read the same way.
ReportSummary ReadDaySummary(const ConnectionSettings& connection, std::chrono::year_month_day day);

// report DAYKEY | --from DAYKEY --to DAYKEY [--kind KIND] [--vehicle SIMID]
// [--filter TEXT] [--sort COLUMN [--descending]] [--flagged] [--format
// table|csv|json|xlsx] [--output FILE]: the rows day runs wrote for a day or
// a period, read back with each vehicle's licence plate and fleet; the days
// not complete are told on the diagnostic output. Reads only; runs beside a
// service and beside a day run. A workbook without --output to a terminal is
// refused.
class ReportCommand : public Command {
 public:
  std::string Name() const override { return "report"; }
  std::string Synopsis() const override { return Tr("Show the report rows of one day (every kind, or one)"); }
  void AddArguments(CLI::App& command) override;
  // {"day": "20140319", "kind": "parking", "vehicle": "13800000001", "format": "csv", "output": "p.csv"},
  // or "from" and "to" in place of "day";
  // "flagged": true keeps the quality rows with a count above 0
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  void Run(CommandEnvironment& env) override;

 private:
  std::string dayKey_;
  std::string from_;
  std::string to_;
  std::string kind_;
  std::string vehicle_;
  std::string format_ = "table";
  std::string output_;
  std::string filter_;
  std::string sort_;
  bool descending_ = false;
  bool flagged_ = false;
  ReportPeriod period_;
  std::vector<ReportKind> kinds_;
};

}  // namespace cuserver
