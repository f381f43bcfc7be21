#include <CLI/CLI.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/command_line_alarms.hpp"
#include "app/command_run_day.hpp"
#include "app/command_run_days.hpp"
#include "app/errors.hpp"

namespace cuserver {
namespace {

RunDayCommand::Today FixedToday() {
  return [] { return std::chrono::year_month_day{std::chrono::year{2026}, std::chrono::month{12}, std::chrono::day{7}}; };
}

// The run-day command as the command line leaves it after Setup.
const RunDayCommand& ParsedRunDay(CommandLine& line, std::vector<const char*> args) {
  args.insert(args.begin(), "cuserver");
  line.App().parse(static_cast<int>(args.size()), args.data());
  Command& command = line.Selected();
  command.Setup();
  return dynamic_cast<const RunDayCommand&>(command);
}

TEST(RunScaleOptions, JobsAndShardFromTheCommandLine) {
  CommandLine line;
  const RunDayCommand& command = ParsedRunDay(line, {"run-day", "20140319", "--jobs", "3", "--shard", "2/4"});
  EXPECT_EQ(command.Scale().Jobs(), 3);
  EXPECT_EQ(command.Scale().Shard().number, 2);
  EXPECT_EQ(command.Scale().Shard().count, 4);
}

TEST(RunScaleOptions, SeveralDaysTakeTheSameOptions) {
  CommandLine line;
  std::vector<const char*> args = {"cuserver", "run-days", "20140301", "20140302", "--shard", "3/3", "--jobs", "1"};
  line.App().parse(static_cast<int>(args.size()), args.data());
  line.Selected().Setup();
  const auto& command = dynamic_cast<const RunDaysCommand&>(line.Selected());
  EXPECT_EQ(command.Scale().Jobs(), 1);
  EXPECT_EQ(command.Scale().Shard().number, 3);
  EXPECT_EQ(command.Days().size(), 2u);
}

TEST(RunScaleOptions, DefaultIsOneWorkerPerCoreAndTheWholeFleet) {
  CommandLine line;
  const RunDayCommand& command = ParsedRunDay(line, {"run-day", "20140319"});
  EXPECT_EQ(command.Scale().Jobs(), DefaultJobs());
  EXPECT_GE(DefaultJobs(), 1);
  EXPECT_EQ(command.Scale().Shard().count, 1);
}

TEST(RunScaleOptions, FromJsonAsTextOrNumber) {
  RunDayCommand command(FixedToday());
  command.FromJson(nlohmann::json{{"day", "20140319"}, {"jobs", 2}, {"shard", "1/2"}});
  command.Setup();
  EXPECT_EQ(command.Scale().Jobs(), 2);
  EXPECT_EQ(command.Scale().Shard().number, 1);
  command.FromJson(nlohmann::json{{"day", "20140319"}});
  command.Setup();
  EXPECT_EQ(command.Scale().Jobs(), DefaultJobs());
  EXPECT_EQ(command.Scale().Shard().count, 1);
}

TEST(RunScaleOptions, BadJobsOrShardIsAnArgumentError) {
  RunDayCommand command(FixedToday());
  for (const char* jobs : {"0", "65", "-1", "two", "1.5", "9999"}) {
    command.FromJson(nlohmann::json{{"day", "20140319"}, {"jobs", jobs}});
    EXPECT_THROW(command.Setup(), ArgumentError) << jobs;
  }
  for (const char* shard : {"0/2", "3/2", "2", "1/0", "a/b"}) {
    command.FromJson(nlohmann::json{{"day", "20140319"}, {"shard", shard}});
    EXPECT_THROW(command.Setup(), ArgumentError) << shard;
  }
}

// line-alarms takes --jobs as run-day does, from the command line and from
// the control page's JSON; it has no shards.
TEST(RunScaleOptions, LineAlarmsTakesJobsButNoShard) {
  CommandLine line;
  std::vector<const char*> args = {"cuserver", "line-alarms", "20140319", "--jobs", "2"};
  line.App().parse(static_cast<int>(args.size()), args.data());
  line.Selected().Setup();
  EXPECT_EQ(dynamic_cast<const LineAlarmsCommand&>(line.Selected()).Scale().Jobs(), 2);
  CommandLine sharded;
  std::vector<const char*> withShard = {"cuserver", "line-alarms", "20140319", "--shard", "1/2"};
  EXPECT_THROW(sharded.App().parse(static_cast<int>(withShard.size()), withShard.data()), CLI::ParseError);

  LineAlarmsCommand command(FixedToday());
  for (const auto& [jobs, expected] : std::vector<std::pair<nlohmann::json, int>>{
           {3, 3}, {"1", 1}, {nullptr, DefaultJobs()}, {0, -1}, {"65", -1}, {"two", -1}}) {
    command.FromJson(nlohmann::json{{"days", {"20140319"}}, {"jobs", jobs}});
    if (expected < 0) {
      EXPECT_THROW(command.Setup(), ArgumentError) << jobs;
    } else {
      command.Setup();
      EXPECT_EQ(command.Scale().Jobs(), expected) << jobs;
    }
  }
}

}  // namespace
}  // namespace cuserver
