#pragma once

#include <string>

#include "app/command.hpp"

namespace cuserver {

// init-db: creates, when missing, the tables of the tracking service that the
// reports read or write. Safe to run again.
class InitDbCommand : public Command {
 public:
  std::string Name() const override { return "init-db"; }
  std::string Synopsis() const override {
    return Tr("Create the tracking service's tables the reports use, where missing");
  }
  void AddArguments(CLI::App& command) override;
  void FromJson(const nlohmann::json& arguments) override;  // {}
  void Setup() override {}
  void Run(CommandEnvironment& env) override;
};

}  // namespace cuserver
