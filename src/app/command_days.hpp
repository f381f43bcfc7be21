#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "app/command.hpp"
#include "db/session.hpp"
#include "run/day_states.hpp"

namespace cuserver {

// Days listed when the range is not given in full.
inline constexpr int kDefaultListedDays = 7;
// One probe of a GPS day table per day listed: a listing covers at most this many days.
inline constexpr int kMaxListedDays = 366;

// The days a listing covers, as DayKeys. Without from and to: the seven days
// up to yesterday; with one of them: seven days from `from`, or up to `to`.
struct DayRange {
  std::string from;
  std::string to;
};
// Throws ArgumentError unless both ends are real calendar dates (yyyy-mm-dd or
// yyyymmdd), from not after to, at most kMaxListedDays days.
DayRange ResolveDayRange(std::string_view from, std::string_view to, std::chrono::year_month_day today);

// The day-run states of the range, read on a session of their own (throws
// ConnectionRefusedError when the database refuses it).
std::vector<DayStatus> ReadDayStatuses(const ConnectionSettings& connection, const DayRange& range, int retryLimit);

// [{"day","state","attempts","ended","detail","shards":[...]}], oldest first;
// "ended" is null for a day that never ended an attempt.
nlohmann::json DayStatusesJson(const std::vector<DayStatus>& statuses);

// days [--from DAYKEY] [--to DAYKEY] [--json]: what the day run has computed,
// day by day, from the day ledger, judged with the service's [Service]
// RetryLimit. Reads only; runs beside a service.
class DaysCommand : public Command {
 public:
  using Today = std::function<std::chrono::year_month_day()>;
  explicit DaysCommand(Today today = {});

  std::string Name() const override { return "days"; }
  std::string Synopsis() const override {
    return Tr("List each day's state in the day ledger (default: the 7 days up to yesterday)");
  }
  void AddArguments(CLI::App& command) override;
  // {"from": "20140301", "to": "20140307", "json": true}; every member may be left out
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  void Run(CommandEnvironment& env) override;
  bool JsonOutput() const override { return json_; }
  void AddToSummary(nlohmann::json& summary) const override;

 private:
  Today today_;
  std::string from_;
  std::string to_;
  bool json_ = false;
  DayRange range_;
  std::vector<DayStatus> statuses_;
};

}  // namespace cuserver
