#include "app/command_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <stdexcept>

#include "app/commands.hpp"

namespace cuserver {

CommandLine::CommandLine()
    : app_("cuserver: the nightly report calculator of the GPS fleet tracking service"),
      commands_(AllCommands()) {
  app_.add_option("--config", configOption_,
                  "Settings file (default: $CUSERVER_CONFIG, else gpsserver.ini in the current "
                  "directory)");
  app_.require_subcommand(1);
  for (auto& command : commands_) {
    CLI::App* sub = app_.add_subcommand(command->Name(), command->Synopsis());
    sub->fallthrough();
    command->AddArguments(*sub);
    subcommands_.push_back(sub);
  }
}

Command& CommandLine::Selected() {
  for (std::size_t i = 0; i < commands_.size(); ++i) {
    if (subcommands_[i]->parsed()) return *commands_[i];
  }
  throw std::logic_error("no command selected");
}

int StdoutTerminalColumns() {
  if (!isatty(STDOUT_FILENO)) return 0;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace cuserver
