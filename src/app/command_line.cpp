#include "app/command_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <fmt/format.h>

#include <stdexcept>
#include <string_view>

#include "app/commands.hpp"
#include "app/man_page.hpp"
#include "app/version.hpp"

namespace cuserver {

CommandLine::CommandLine()
    : app_("cuserver: the nightly report calculator of the GPS fleet tracking service"),
      commands_(AllCommands()) {
  app_.add_option("--config", configOption_,
                  "Settings file (default: $CUSERVER_CONFIG, else gpsserver.ini in the current "
                  "directory)")
      ->type_name("FILE");
  auto* quiet = app_.add_flag("--quiet,-q", quiet_, "Tell only errors, on stderr: no progress, notes or summary");
  app_.add_flag("--verbose,-v", verbose_, "Tell debug lines too, on stderr")->excludes(quiet);
  app_.set_version_flag("--version", fmt::format("cuserver {}", kVersion), "Print the version and exit");
  app_.require_subcommand(1);
  for (auto& command : commands_) {
    CLI::App* sub = app_.add_subcommand(command->Name(), command->Synopsis());
    sub->fallthrough();
    command->AddArguments(*sub);
    subcommands_.push_back(sub);
  }
  AddDocumentationFlags(app_);
}

Command& CommandLine::Selected() {
  for (std::size_t i = 0; i < commands_.size(); ++i) {
    if (subcommands_[i]->parsed()) return *commands_[i];
  }
  throw std::logic_error("no command selected");
}

Verbosity CommandLine::GetVerbosity() const {
  if (quiet_) return Verbosity::Quiet;
  return verbose_ ? Verbosity::Verbose : Verbosity::Normal;
}

std::string CommandLine::UnknownCommand(int argc, const char* const* argv) const {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--config") {
      ++i;  // its value
      continue;
    }
    if (word.starts_with("-")) continue;
    std::string names;
    for (const auto& command : commands_) {
      if (command->Name() == word) return {};
      names += names.empty() ? command->Name() : ", " + command->Name();
    }
    return fmt::format("unknown command: {} (the commands: {}; cuserver --help tells more)", word, names);
  }
  return {};
}

const Command* CommandLine::JsonCommandOfRefusedLine() const {
  for (std::size_t i = 0; i < commands_.size(); ++i) {
    if (!subcommands_[i]->parsed()) continue;
    const CLI::Option* json = subcommands_[i]->get_option_no_throw("--json");
    if (json != nullptr && json->count() > 0) return commands_[i].get();
  }
  return nullptr;
}

int StdoutTerminalColumns() {
  if (!isatty(STDOUT_FILENO)) return 0;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace cuserver
