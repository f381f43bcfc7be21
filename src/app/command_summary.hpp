#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/command.hpp"
#include "app/report_files.hpp"
#include "app/report_period.hpp"
#include "db/period_summary.hpp"

namespace cuserver {

// The period's summary, read on a session of its own that writes nothing.
PeriodSummary ReadSummary(const ConnectionSettings& connection, const SummaryQuery& query);

// Orders the rows by one of the answer's numeric fields (kilometres,
// speeding, ...), largest first when descending; ties keep their order.
// Throws ArgumentError for a field the rows do not have.
void SortSummaryRows(std::vector<SummaryRow>& rows, const std::string& field, bool descending);

// A row as the API answers it: {"simId","licensePlate","fleet"} or {"day"}
// or {"fleet"}, then "vehicles" (per day and fleet), "days", "kilometres",
// "speeding", "speedingSeconds", "parking", "parkingSeconds", "fatigue",
// "lostContact" and the quality counts ("fixes", "withoutPosition", ...).
nlohmann::json SummaryRowJson(const SummaryRow& row, SummaryPer per);
// {"from","to","per","total","rows":[...],"totals":{...}}
nlohmann::json SummaryJson(const SummaryQuery& query, const PeriodSummary& summary);

// The summary as a sheet of the files an operator takes away.
ReportSheet SummarySheet(const SummaryQuery& query, const PeriodSummary& summary);

// summary --from DAYKEY --to DAYKEY [--per vehicle|day|fleet] [--kind KIND]
// [--vehicle SIMID] [--filter TEXT] [--format table|csv|json|xlsx] [--output
// FILE]: each vehicle's (day's, fleet's) reports summed over the period, and
// with --kind (again, or a list) the rows of those kinds over the period
// after it. Reads only; says which days are not complete.
class SummaryCommand : public Command {
 public:
  std::string Name() const override { return "summary"; }
  std::string Synopsis() const override { return Tr("Sum the reports of a period per vehicle, day or fleet"); }
  void AddArguments(CLI::App& command) override;
  // {"from": "2026-12-01", "to": "2026-12-31", "per": "fleet", "kind": "speeding", "format": "xlsx", "output": "m.xlsx"}
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  void Run(CommandEnvironment& env) override;

 private:
  std::string from_;
  std::string to_;
  std::string per_ = "vehicle";
  std::vector<std::string> kindNames_;
  std::string vehicle_;
  std::string filter_;
  std::string format_ = "table";
  std::string output_;
  SummaryQuery query_;
  std::vector<ReportKind> kinds_;
};

}  // namespace cuserver
