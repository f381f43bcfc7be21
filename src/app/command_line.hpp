#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

#include "app/command.hpp"
#include "app/environment.hpp"

namespace cuserver {

// `cuserver [--config FILE] [--quiet|--verbose] COMMAND [ARGS]`: one CLI11
// subcommand per operator command, --help on each; --version.
class CommandLine {
 public:
  CommandLine();

  CLI::App& App() { return app_; }
  // The --config value; empty when not given.
  const std::string& ConfigOption() const { return configOption_; }
  // The command named on the parsed command line.
  Command& Selected();
  Verbosity GetVerbosity() const;

  // After a refused command line: "unknown command: NAME ..." when the first
  // word that is not an option names no command, else empty.
  std::string UnknownCommand(int argc, const char* const* argv) const;
  // After a refused command line: the command named, when its --json was
  // given, so that the refusal is answered as JSON too; else null.
  const Command* JsonCommandOfRefusedLine() const;

 private:
  CLI::App app_;
  std::string configOption_;
  bool quiet_ = false;
  bool verbose_ = false;
  std::vector<std::unique_ptr<Command>> commands_;
  std::vector<CLI::App*> subcommands_;
};

// The width of the terminal standard output writes to, or 0 when it is not a
// terminal.
int StdoutTerminalColumns();

}  // namespace cuserver
