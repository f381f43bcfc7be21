// The only place where failures become messages and exit statuses:
// 0 everything was written; 1 the command completed but something failed (or
// failed while running); 2 bad arguments or refused input; 3 the command could
// not run at all (settings, database connection, map).

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>

#include "app/command_line.hpp"
#include "app/console.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/failure.hpp"
#include "app/run_summary.hpp"
#include "app/service/instance_lock.hpp"
#include "app/version.hpp"
#include "db/ledger.hpp"
#include "db/session.hpp"
#include "map/map_services.hpp"
#include "reports/diagnostics.hpp"
#include "reports/translate.hpp"
#include "run/run_session.hpp"

namespace {

using namespace cuserver;

// How a command ended: its exit status and the message that ended it.
struct Ending {
  int status = 0;
  std::string message;
};

Ending Run(Command& command, CommandEnvironment& env) {
  try {
    command.Setup();
    std::optional<InstanceLock> beside;  // held while the command works
    if (LocksStartDirectory(command.Name())) {
      beside.emplace(InstanceLock::ForCommand(env.StartDirectory(), command.Name()));
    }
    RunCommand(command, env);
  } catch (...) {
    const Failure failure = FailureOf(std::current_exception());
    return {failure.ExitStatus(), failure.CommandMessage()};
  }
  return {};
}

// The caption of a --verbose run: every caption is also a debug line.
class DebugCaption : public Caption {
 public:
  explicit DebugCaption(Console& console) : console_(console) {}
  void Show(const std::string& text) override {
    console_.DiagnosticLine("debug: " + text);
    console_.Show(text);
  }
  void Progress(int done, int total) override { console_.Progress(done, total); }

 private:
  Console& console_;
};

void PrintJson(const nlohmann::json& summary) {
  std::cout << summary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace cuserver;
  const auto begun = std::chrono::steady_clock::now();
  // A reader that goes away (run-day ... | head) ends the output, not the
  // work: writes to it fail instead of killing the process.
  std::signal(SIGPIPE, SIG_IGN);
  UseSqliteWithoutConnectionLocks();
  std::error_code noDirectory;
  const std::filesystem::path startDirectory = std::filesystem::current_path(noDirectory);
  if (noDirectory) {
    std::cerr << "读取当前目录失败！ (" << noDirectory.message() << ")\n";
    return 3;
  }

  UseLocaleLanguage();
  CommandLine commandLine;
  try {
    commandLine.App().parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return commandLine.App().exit(error);
    const std::string unknown = commandLine.UnknownCommand(argc, argv);
    if (!unknown.empty()) {
      std::cerr << unknown << '\n';
      return 2;
    }
    commandLine.App().exit(error);
    if (const Command* command = commandLine.JsonCommandOfRefusedLine()) {
      Diagnostics none(nullptr);
      PrintJson(CommandSummaryJson(*command, none, 2, 0.0, error.what()));
    }
    return 2;
  }

  Command& command = commandLine.Selected();
  const Verbosity verbosity = commandLine.GetVerbosity();
  const bool json = command.JsonOutput();
  if (json) UseSourceLanguage();
  // With --json standard output holds the one JSON object and nothing else.
  std::ostream discarded(nullptr);
  std::ostream& out = json ? discarded : std::cout;
  Console console(out, std::cerr, json ? 0 : StdoutTerminalColumns());
  SilentCaption silent;
  DebugCaption debugCaption(console);
  Caption& caption = json || verbosity == Verbosity::Quiet ? static_cast<Caption&>(silent)
                     : verbosity == Verbosity::Verbose     ? static_cast<Caption&>(debugCaption)
                                                           : static_cast<Caption&>(console);
  const auto line = [&console](const std::string& text) { console.DiagnosticLine(text); };
  Diagnostics diagnostics(line, verbosity == Verbosity::Quiet ? Diagnostics::LineSink() : line);
  const std::filesystem::path configFile =
      ResolveConfigFile(commandLine.ConfigOption(), std::getenv("CUSERVER_CONFIG"), startDirectory);
  if (verbosity == Verbosity::Verbose) {
    line(fmt::format("debug: cuserver {}, {} in {}, settings {}", kVersion, command.Name(), startDirectory.string(),
                     configFile.string()));
  }
  CommandEnvironment env(startDirectory, configFile, out, caption, diagnostics);
  env.SetVerbosity(verbosity);
  Ending ending = Run(command, env);
  console.Finish();
  if (ending.status == 0 && diagnostics.AnyFailure()) ending = {1, diagnostics.Summary()};
  if (!ending.message.empty()) std::cerr << ending.message << '\n';
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - begun;
  if (verbosity == Verbosity::Verbose) {
    line(fmt::format("debug: {} ended with status {} after {:.3f} s", command.Name(), ending.status, seconds.count()));
  }
  if (json) {
    PrintJson(CommandSummaryJson(command, diagnostics, ending.status, seconds.count(), ending.message));
  }
  return ending.status;
}
