#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace cuserver {

// The manual page cuserver(1) in roff (man macros), written from the same
// command and option definitions as --help.
std::string ManPage(const CLI::App& app);

// A bash completion script for cuserver: command names, each command's
// options, and file names after an option that takes a value.
std::string BashCompletion(const CLI::App& app);

// Hidden flags --man and --bash-completion, which print the above and exit 0;
// the build writes the package's manual page and completion with them.
void AddDocumentationFlags(CLI::App& app);

}  // namespace cuserver
