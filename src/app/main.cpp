// The only place where failures become messages and exit statuses:
// 0 everything was written; 1 the command completed but something failed (or
// failed while running); 2 bad arguments or refused input; 3 the command could
// not run at all (settings, database connection, map).

#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>

#include "app/command_line.hpp"
#include "app/console.hpp"
#include "app/environment.hpp"
#include "app/errors.hpp"
#include "app/service/instance_lock.hpp"
#include "db/ledger.hpp"
#include "db/session.hpp"
#include "map/map_services.hpp"
#include "reports/diagnostics.hpp"
#include "run/run_session.hpp"

int main(int argc, char** argv) {
  using namespace cuserver;
  // A reader that goes away (run-day ... | head) ends the output, not the
  // work: writes to it fail instead of killing the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::error_code noDirectory;
  const std::filesystem::path startDirectory = std::filesystem::current_path(noDirectory);
  if (noDirectory) {
    std::cerr << "读取当前目录失败！ (" << noDirectory.message() << ")\n";
    return 3;
  }

  CommandLine commandLine;
  try {
    commandLine.App().parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return commandLine.App().exit(error) == 0 ? 0 : 2;
  }

  Console console(std::cout, std::cerr, StdoutTerminalColumns());
  Diagnostics diagnostics([&console](const std::string& line) { console.DiagnosticLine(line); });
  auto fail = [&console](int status, const char* what) {
    console.Finish();
    std::cerr << what << '\n';
    return status;
  };
  try {
    Command& command = commandLine.Selected();
    command.Setup();
    CommandEnvironment env(
        startDirectory,
        ResolveConfigFile(commandLine.ConfigOption(), std::getenv("CUSERVER_CONFIG"), startDirectory),
        std::cout, console, diagnostics);
    std::optional<InstanceLock> beside;  // held while the command works
    if (LocksStartDirectory(command.Name())) beside.emplace(InstanceLock::ForCommand(startDirectory, command.Name()));
    RunCommand(command, env);
  } catch (const ArgumentError& error) {
    return fail(2, error.what());
  } catch (const CannotRunError& error) {
    return fail(3, error.what());
  } catch (const ConnectionRefusedError& error) {
    return fail(3, error.what());
  } catch (const SettingsError& error) {
    return fail(3, error.what());
  } catch (const MapError& error) {
    return fail(3, error.what());
  } catch (const DayClaimedError& error) {
    return fail(3, error.what());
  } catch (const DatabaseError& error) {
    return fail(1, DatabaseErrorText(error).c_str());
  } catch (const std::exception& error) {
    return fail(1, error.what());
  }
  console.Finish();
  if (diagnostics.AnyFailure()) {
    std::cerr << diagnostics.Summary() << '\n';
    return 1;
  }
  return 0;
}
