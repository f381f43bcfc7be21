#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <vector>

#include "app/command_init_db.hpp"
#include "app/command_line.hpp"
#include "app/command_map_queries.hpp"
#include "app/command_run_day.hpp"
#include "app/commands.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "run/day_key.hpp"

namespace cuserver {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::year;
using std::chrono::year_month_day;

RunDayCommand::Today FixedToday() {
  return [] { return year_month_day{year{2026}, month{12}, day{7}}; };
}

std::string ArgumentMessage(Command& command) {
  try {
    command.Setup();
  } catch (const ArgumentError& error) {
    return error.what();
  }
  return {};
}

TEST(RunDayArguments, DayFromJsonAsTextOrNumber) {
  RunDayCommand command(FixedToday());
  command.FromJson(nlohmann::json{{"day", "20140319"}});
  EXPECT_EQ(command.Day(), "20140319");
  EXPECT_NO_THROW(command.Setup());
  command.FromJson(nlohmann::json{{"day", 20140320}});
  EXPECT_EQ(command.Day(), "20140320");
  // As operators write days; the run and what it stores keep the DayKey.
  command.FromJson(nlohmann::json{{"day", "2014-03-21"}});
  EXPECT_NO_THROW(command.Setup());
  EXPECT_EQ(command.Day(), "20140321");
}

TEST(RunDayArguments, RefusedDayGetsTheOperatorMessage) {
  RunDayCommand command(FixedToday());
  for (const char* day : {"20261208", "20071231", "20140230", "2014031", "", "2014-3-19", "2014/03/19"}) {
    command.FromJson(nlohmann::json{{"day", day}});
    EXPECT_TRUE(ArgumentMessage(command).starts_with(kDayOutOfRangeMessage)) << day;
  }
  command.FromJson(nlohmann::json::object());
  EXPECT_EQ(ArgumentMessage(command), "日期超出指定范围！(空)：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 2026-12-07");
  command.FromJson(nlohmann::json{{"day", "2026-12-08"}});
  EXPECT_EQ(ArgumentMessage(command),
            "日期超出指定范围！(2026-12-08)：日期应写作 yyyy-mm-dd 或 yyyymmdd，从 2008-01-01 到 2026-12-07");
}


TEST(RunDayArguments, WrongJsonIsAnArgumentError) {
  RunDayCommand command(FixedToday());
  EXPECT_THROW(command.FromJson(nlohmann::json{{"day", nlohmann::json::array()}}), ArgumentError);
  EXPECT_THROW(command.FromJson(nlohmann::json::array()), ArgumentError);
  EXPECT_THROW(InitDbCommand().FromJson(nlohmann::json("x")), ArgumentError);
}

TEST(HighwayTestArguments, NoPositionIsRefused) {
  HighwayTestCommand command;
  command.FromJson(nlohmann::json::object());
  EXPECT_EQ(ArgumentMessage(command), "give LAT and LON");
}

TEST(HighwayTestArguments, HalfAPositionOrBadDegreesAreRefused) {
  HighwayTestCommand command;
  command.FromJson(nlohmann::json{{"lat", 23.4}});
  EXPECT_FALSE(ArgumentMessage(command).empty());
  for (const char* lat : {"91", "abc", "23.4x", "nan", "inf", "0x10", ""}) {
    command.FromJson(nlohmann::json{{"lat", lat}, {"lon", "103.3"}});
    EXPECT_FALSE(ArgumentMessage(command).empty()) << lat;
  }
  command.FromJson(nlohmann::json{{"lat", "-23.4"}, {"lon", -180}});
  EXPECT_EQ(ArgumentMessage(command), "");
}

TEST(AreaNameArguments, BothCoordinatesRequired) {
  AreaNameCommand command;
  command.FromJson(nlohmann::json{{"lon", "103.3"}});
  EXPECT_FALSE(ArgumentMessage(command).empty());
  command.FromJson(nlohmann::json{{"lat", "23.4"}, {"lon", "181"}});
  EXPECT_FALSE(ArgumentMessage(command).empty());
  command.FromJson(nlohmann::json{{"lat", "23.4"}, {"lon", "103.3"}});
  EXPECT_EQ(ArgumentMessage(command), "");
}

TEST(CommandRegistry, EveryCommandByItsName) {
  std::vector<std::string> names;
  for (const auto& command : AllCommands()) names.push_back(command->Name());
  for (const char* name : {"run-day", "init-db", "highway-test", "area-name"}) {
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
  }
  ASSERT_NE(MakeCommand("area-name"), nullptr);
  EXPECT_EQ(MakeCommand("area-name")->Name(), "area-name");
  EXPECT_EQ(MakeCommand("serve-coffee"), nullptr);
}

int Parse(CommandLine& line, std::vector<std::string> args) {
  args.insert(args.begin(), "cuserver");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  try {
    line.App().parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& error) {
    return error.get_exit_code() == 0 ? 0 : 2;
  }
  return 0;
}

TEST(CommandLineParsing, ConfigBeforeOrAfterTheCommand) {
  CommandLine before;
  ASSERT_EQ(Parse(before, {"--config", "a.ini", "run-day", "20140319"}), 0);
  EXPECT_EQ(before.Selected().Name(), "run-day");
  EXPECT_EQ(before.ConfigOption(), "a.ini");
  CommandLine after;
  ASSERT_EQ(Parse(after, {"area-name", "23.4", "103.3", "--config", "b.ini"}), 0);
  EXPECT_EQ(after.Selected().Name(), "area-name");
  EXPECT_EQ(after.ConfigOption(), "b.ini");
}

TEST(CommandLineParsing, MissingOrUnknownArgumentsAreRefused) {
  CommandLine noCommand;
  EXPECT_EQ(Parse(noCommand, {}), 2);
  CommandLine noDay;
  EXPECT_EQ(Parse(noDay, {"run-day"}), 2);
  CommandLine extra;
  EXPECT_EQ(Parse(extra, {"run-day", "20140319", "20140320"}), 2);
  CommandLine unknown;
  EXPECT_EQ(Parse(unknown, {"fly"}), 2);
}

TEST(ConfigFile, OptionThenEnvironmentThenStartDirectory) {
  std::filesystem::path start = "/srv/fleet";
  EXPECT_EQ(ResolveConfigFile("my.ini", "/etc/cu.ini", start), "/srv/fleet/my.ini");
  EXPECT_EQ(ResolveConfigFile("/abs.ini", "/etc/cu.ini", start), "/abs.ini");
  EXPECT_EQ(ResolveConfigFile("", "/etc/cu.ini", start), "/etc/cu.ini");
  EXPECT_EQ(ResolveConfigFile("", "", start), "/srv/fleet/gpsserver.ini");
  EXPECT_EQ(ResolveConfigFile("", nullptr, start), "/srv/fleet/gpsserver.ini");
}

}  // namespace
}  // namespace cuserver
