#pragma once

#include <string>

#include "app/command.hpp"

namespace cuserver {

// A question to the map about one position, LAT LON (or {"lat": .., "lon": ..}
// from the page); the answer goes to the output on a line.
class MapQueryCommand : public Command {
 public:
  void AddArguments(CLI::App& command) override;
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  bool NeedsMap() const override { return true; }
  void Run(CommandEnvironment& env) override;

 protected:
  virtual std::string Answer(CommandEnvironment& env, double latitude, double longitude) const = 0;

 private:
  std::string latText_;
  std::string lonText_;
  double latitude_ = 0;
  double longitude_ = 0;
};

// highway-test LAT LON: prints 1 when the position lies on a highway of the
// map, else 0. Operators use it to check a map before trusting its reports.
class HighwayTestCommand : public MapQueryCommand {
 public:
  std::string Name() const override { return "highway-test"; }
  std::string Synopsis() const override { return Tr("Print 1 when a position lies on a highway, else 0"); }

 protected:
  std::string Answer(CommandEnvironment& env, double latitude, double longitude) const override;
};

// area-name LAT LON: prints the names of the speed areas at the position, or
// the text for outside every area.
class AreaNameCommand : public MapQueryCommand {
 public:
  std::string Name() const override { return "area-name"; }
  std::string Synopsis() const override { return Tr("Print the names of the speed areas at a position"); }

 protected:
  std::string Answer(CommandEnvironment& env, double latitude, double longitude) const override;
};

}  // namespace cuserver
