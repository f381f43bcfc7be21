#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

#include "app/command.hpp"

namespace cuserver {

// `cuserver [--config FILE] COMMAND [ARGS]`: one CLI11 subcommand per
// operator command, --help on each.
class CommandLine {
 public:
  CommandLine();

  CLI::App& App() { return app_; }
  // The --config value; empty when not given.
  const std::string& ConfigOption() const { return configOption_; }
  // The command named on the parsed command line.
  Command& Selected();

 private:
  CLI::App app_;
  std::string configOption_;
  std::vector<std::unique_ptr<Command>> commands_;
  std::vector<CLI::App*> subcommands_;
};

// The width of the terminal standard output writes to, or 0 when it is not a
// terminal.
int StdoutTerminalColumns();

}  // namespace cuserver
