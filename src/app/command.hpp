#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

#include "reports/translate.hpp"

namespace CLI {
class App;
}

namespace cuserver {

class CommandEnvironment;

// One operator command. The command line and the control page fill the same
// arguments (from CLI11 or from a JSON object), then Setup checks them and
// Run does the work.
class Command {
 public:
  virtual ~Command() = default;

  virtual std::string Name() const = 0;
  virtual std::string Synopsis() const = 0;

  // Declares the command's arguments on its own CLI11 subcommand.
  virtual void AddArguments(CLI::App& command) = 0;
  // Fills the arguments from a JSON object. Throws ArgumentError for a member
  // of the wrong type.
  virtual void FromJson(const nlohmann::json& arguments) = 0;

  // Checks the arguments; throws ArgumentError with the operator's message.
  // Must not open files or connect to anything.
  virtual void Setup() = 0;

  // True when the map must be loaded before Run.
  virtual bool NeedsMap() const { return false; }

  // Does the work. Failures that let the command go on are recorded on the
  // environment's diagnostics; the others are thrown.
  virtual void Run(CommandEnvironment& env) = 0;

  // True when --json asked for one JSON object on standard output in place
  // of the command's text; only the commands with the option say so.
  virtual bool JsonOutput() const { return false; }
  // Adds what the run did (counts per day and table) to that object; the
  // caller adds the diagnostics, duration and exit status.
  virtual void AddToSummary(nlohmann::json& summary) const { (void)summary; }
};

}  // namespace cuserver
