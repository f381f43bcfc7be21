#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "app/command.hpp"

namespace cuserver {

// Every operator command, in the order --help lists them. The command line
// and the control page dispatch the same classes.
std::vector<std::unique_ptr<Command>> AllCommands();

// A fresh command object by name, or null.
std::unique_ptr<Command> MakeCommand(std::string_view name);

}  // namespace cuserver
