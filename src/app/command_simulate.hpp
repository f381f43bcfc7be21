#pragma once

#include <string>

#include "app/command.hpp"
#include "app/simulate/simulator.hpp"

namespace cuserver {

// simulate: writes a realistic, repeatable day of a simulated fleet into the
// configured database and the map folder HighWay/ of the start directory.
// It refuses (ArgumentError) to write into a database or map folder that
// holds data it did not write, unless forced.
class SimulateCommand : public Command {
 public:
  std::string Name() const override { return "simulate"; }
  std::string Synopsis() const override {
    return Tr("Write a simulated fleet's day and its map (demo and benchmark data)");
  }
  void AddArguments(CLI::App& command) override;
  // {"vehicles":8,"interval":30,"day":"20140319","seed":7}
  void FromJson(const nlohmann::json& arguments) override;
  void Setup() override;
  void Run(CommandEnvironment& env) override;

 private:
  sim::SimulationOptions options_;
  std::string seedText_ = "1";
  bool force_ = false;
};

}  // namespace cuserver
