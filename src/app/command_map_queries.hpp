#pragma once

#include <string>

#include "app/command.hpp"

namespace cuserver {

// highway-test LAT LON: prints 1 when the position lies on a highway of the
// map, else 0. Operators use it to check a map before trusting its reports.
class HighwayTestCommand : public Command {
 public:
  std::string Name() const override { return "highway-test"; }
  std::string Synopsis() const override { return "Print 1 when a position lies on a highway, else 0"; }
  void AddArguments(CLI::App& command) override;
  void FromJson(const nlohmann::json& arguments) override;  // {"lat": .., "lon": ..}
  void Setup() override;
  bool NeedsMap() const override { return true; }
  void Run(CommandEnvironment& env) override;

 private:
  std::string latText_;
  std::string lonText_;
  double latitude_ = 0;
  double longitude_ = 0;
};

// area-name LAT LON: prints the names of the speed areas at the position, or
// the text for outside every area.
class AreaNameCommand : public Command {
 public:
  std::string Name() const override { return "area-name"; }
  std::string Synopsis() const override { return "Print the names of the speed areas at a position"; }
  void AddArguments(CLI::App& command) override;
  void FromJson(const nlohmann::json& arguments) override;  // {"lat": .., "lon": ..}
  void Setup() override;
  bool NeedsMap() const override { return true; }
  void Run(CommandEnvironment& env) override;

 private:
  std::string latText_;
  std::string lonText_;
  double latitude_ = 0;
  double longitude_ = 0;
};

}  // namespace cuserver
