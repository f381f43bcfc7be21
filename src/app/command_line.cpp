#include "app/command_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <fmt/format.h>

#include <stdexcept>
#include <string_view>

#include "app/commands.hpp"
#include "app/man_page.hpp"
#include "app/version.hpp"
#include "reports/translate.hpp"

namespace cuserver {

namespace {

constexpr const char* kHelpFlag = "-h,--help";

// CLI11's refusal in the operator's language: the common kinds are worded
// anew around the names CLI11 gives, the others keep its English words.
std::string CommandLineRefusal(const CLI::Error& error) {
  const std::string text = error.what();
  const std::size_t colon = text.find(": ");
  const std::string afterColon = colon == std::string::npos ? text : text.substr(colon + 2);
  constexpr std::string_view kRequired = " is required";
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) return TrFormat("not expected: {}", afterColon);
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && text.ends_with(kRequired)) {
    if (text == "A subcommand is required") return Tr("a command is required");
    return TrFormat("{} is required", text.substr(0, text.size() - kRequired.size()));
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && text.ends_with(" missing") &&
      colon != std::string::npos) {
    return TrFormat("{} needs a value", text.substr(0, colon));
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
    const std::size_t excludes = text.find(" excludes ");
    if (excludes != std::string::npos) {
      return TrFormat("{} and {} cannot be given together", text.substr(0, excludes), text.substr(excludes + 10));
    }
  }
  return TrFormat("the command line is refused: {}", text);
}

// The words CLI11 writes around the help texts, in the operator's language.
void TranslateHelpWords(CLI::App& app) {
  auto formatter = app.get_formatter();
  formatter->label("Usage", Tr("Usage"));
  formatter->label("OPTIONS", Tr("OPTIONS"));
  formatter->label("SUBCOMMAND", Tr("SUBCOMMAND"));
  formatter->label("SUBCOMMANDS", Tr("SUBCOMMANDS"));
  formatter->label("REQUIRED", Tr("REQUIRED"));
  formatter->label("Positionals", Tr("Positionals"));
  formatter->label("Excludes", Tr("Excludes"));
  formatter->label("Needs", Tr("Needs"));
  formatter->label("Env", Tr("Env"));
  // The group names head the lists of options and commands.
  app.option_defaults()->group(Tr("Options"));
  app.group(Tr("Subcommands"));
  app.set_help_flag(kHelpFlag, Tr("Print this help message and exit"));
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return TrFormat("{}\nRun with --help for more information.\n", CommandLineRefusal(error));
  });
}

}  // namespace

CommandLine::CommandLine()
    : app_(Tr("cuserver: the nightly report calculator of the GPS fleet tracking service")),
      commands_(AllCommands()) {
  TranslateHelpWords(app_);
  app_.add_option("--config", configOption_,
                  Tr("Settings file (default: $CUSERVER_CONFIG, else gpsserver.ini in the current directory)"))
      ->type_name("FILE");
  auto* quiet = app_.add_flag("--quiet,-q", quiet_, Tr("Tell only errors, on stderr: no progress, notes or summary"));
  app_.add_flag("--verbose,-v", verbose_, Tr("Tell debug lines too, on stderr"))->excludes(quiet);
  app_.set_version_flag("--version", fmt::format("cuserver {}", kVersion), Tr("Print the version and exit"));
  app_.require_subcommand(1);
  for (auto& command : commands_) {
    CLI::App* sub = app_.add_subcommand(command->Name(), command->Synopsis());
    // A subcommand copies its parent's help flag before its option defaults.
    sub->set_help_flag(kHelpFlag, Tr("Print this help message and exit"));
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
    return TrFormat("unknown command: {} (the commands: {}; cuserver --help tells more)", word, names);
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
