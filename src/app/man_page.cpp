#include "app/man_page.hpp"

#include <cctype>

#include <fmt/format.h>

#include <iostream>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

namespace cuserver {
namespace {

// Text set as roff: backslashes written as \e, and a line that would start
// with a control character guarded by \&.
std::string Roff(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

// An option or command name, its hyphens as the minus signs a reader can
// copy back into a shell.
std::string RoffName(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (c == '-') out += '\\';
    out += c;
  }
  return out;
}

bool Hidden(const CLI::Option* option) { return option->get_group().empty(); }
bool IsFlag(const CLI::Option* option) { return option->get_expected_max() == 0; }

std::vector<const CLI::Option*> NamedOptions(const CLI::App& app, bool withHelp) {
  return app.get_options([withHelp, &app](const CLI::Option* option) {
    return !Hidden(option) && !option->get_positional() && (withHelp || option != app.get_help_ptr());
  });
}

std::vector<const CLI::Option*> Positionals(const CLI::App& app) {
  return app.get_options([](const CLI::Option* option) { return !Hidden(option) && option->get_positional(); });
}

std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty() && !sub->get_group().empty(); });
}

// "-j, --jobs N" as a .TP heading.
std::string OptionHeading(const CLI::Option* option) {
  std::string heading;
  auto add = [&heading](const std::string& dashes, const std::string& name) {
    heading += fmt::format("{}\\fB{}\\fR", heading.empty() ? "" : ", ", RoffName(dashes + name));
  };
  for (const std::string& name : option->get_snames()) add("-", name);
  for (const std::string& name : option->get_lnames()) add("--", name);
  if (!IsFlag(option) && !option->get_type_name().empty()) {
    heading += fmt::format(" \\fI{}\\fR", Roff(option->get_type_name()));
  }
  return heading;
}

// The help may name what this machine has ("the number of cores, here 8");
// the manual is made on the build machine and read on others, so it leaves
// that out.
std::string WithoutThisMachine(std::string text) {
  constexpr std::string_view kHere = ", here ";
  for (std::size_t at = text.find(kHere); at != std::string::npos; at = text.find(kHere, at + 1)) {
    std::size_t end = at + kHere.size();
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end > at + kHere.size()) text.erase(at, end - at);
  }
  return text;
}

void WriteOptions(std::ostream& out, const std::vector<const CLI::Option*>& options) {
  for (const CLI::Option* option : options) {
    out << ".TP\n" << OptionHeading(option) << '\n' << Roff(WithoutThisMachine(option->get_description()));
    if (!option->get_default_str().empty()) out << " (default: " << Roff(option->get_default_str()) << ')';
    out << '\n';
  }
}

// The description without a leading "cuserver: ", for the NAME line.
std::string Summary(const CLI::App& app) {
  std::string text = app.get_description();
  constexpr std::string_view kPrefix = "cuserver: ";
  if (text.rfind(kPrefix, 0) == 0) text.erase(0, kPrefix.size());
  return text;
}

}  // namespace

std::string ManPage(const CLI::App& app) {
  std::ostringstream out;
  out << ".TH CUSERVER 1 \"\" \"cuserver " CUSERVER_VERSION "\" \"User Commands\"\n"
      << ".SH NAME\ncuserver \\- " << Roff(Summary(app)) << '\n'
      << ".SH SYNOPSIS\n.B cuserver\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR]\n"
      << ".SH DESCRIPTION\n"
      << "cuserver computes a day's reports (mileage, speeding, parking, fatigue driving, lost contact) from the\n"
      << "GPS day tables of a vehicle tracking database, by command or unattended as a service with a control page.\n"
      << "It works in its start directory (the current directory): report.ini, the run log and the map folder\n"
      << "HighWay/ are found there.\n"
      << ".PP\nA day (\\fIDAYKEY\\fR, \\fIFROM\\fR, \\fITO\\fR) is written yyyy-mm-dd or yyyymmdd, as 2014-03-19 or\n"
      << "20140319; days to compute run from 2008-01-01 to today.\n"
      << ".SH OPTIONS\n";
  WriteOptions(out, NamedOptions(app, true));
  out << ".SH COMMANDS\n";
  for (const CLI::App* command : Commands(app)) {
    out << ".SS \"\\fB" << RoffName(command->get_name()) << "\\fR";
    for (const CLI::Option* positional : Positionals(*command)) {
      const bool optional = !positional->get_required();
      out << ' ' << (optional ? "[" : "") << "\\fI" << Roff(positional->get_name()) << "\\fR"
          << (positional->get_items_expected_max() > 1 ? "..." : "") << (optional ? "]" : "");
    }
    if (!NamedOptions(*command, false).empty()) out << " [\\fIOPTIONS\\fR]";
    out << "\"\n" << Roff(command->get_description()) << '\n';
    for (const CLI::Option* positional : Positionals(*command)) {
      out << ".TP\n\\fI" << Roff(positional->get_name()) << "\\fR\n" << Roff(positional->get_description()) << '\n';
    }
    WriteOptions(out, NamedOptions(*command, false));
  }
  out << ".SH EXIT STATUS\n"
      << ".TP\n0\nEverything was written.\n"
      << ".TP\n1\nThe command completed but something failed (a report of a vehicle, a skipped vehicle, a row the\n"
      << "database refused); a summary is printed on standard error.\n"
      << ".TP\n2\nBad arguments or refused input.\n"
      << ".TP\n3\nThe command could not run at all: no database connection, unreadable map or settings, or the start\n"
      << "directory is locked by another computation.\n"
      << ".SH ENVIRONMENT\n.TP\n.B CUSERVER_CONFIG\n"
      << "The settings file when \\fB\\-\\-config\\fR is not given.\n"
      << ".SH FILES\n"
      << ".TP\n.I gpsserver.ini\nDatabase connection and service settings (in the start directory unless\n"
      << "\\fB\\-\\-config\\fR or \\fBCUSERVER_CONFIG\\fR names another).\n"
      << ".TP\n.I report.ini\nThe speeding thresholds, read anew for every vehicle.\n"
      << ".TP\n.I HighWay/HIGHWAY.gst\nThe map: highways and speed areas.\n"
      << ".TP\n.I cuserver.lock\nHeld while a service or a computation works in the start directory.\n"
      << ".TP\n.I /var/lib/cuserver\nThe start directory of the packaged service (cuserver.service).\n"
      << ".SH SEE ALSO\n"
      << "/usr/share/doc/cuserver/OPERATORS.md and README.md, with the settings examples in\n"
      << "/usr/share/doc/cuserver/examples/.\n";
  return out.str();
}

std::string BashCompletion(const CLI::App& app) {
  std::ostringstream out;
  std::string names;
  for (const CLI::App* command : Commands(app)) {
    names += fmt::format("{}{}", names.empty() ? "" : " ", command->get_name());
  }
  auto words = [](const std::vector<const CLI::Option*>& options) {
    std::string list;
    for (const CLI::Option* option : options) {
      for (const std::string& name : option->get_snames()) list += fmt::format(" -{}", name);
      for (const std::string& name : option->get_lnames()) list += fmt::format(" --{}", name);
    }
    return list;
  };
  // Options that take a value complete to file names, the only values
  // that can be listed.
  std::set<std::string> valuedNames;
  auto addValued = [&valuedNames](const CLI::App& owner) {
    for (const CLI::Option* option : NamedOptions(owner, false)) {
      if (IsFlag(option)) continue;
      for (const std::string& name : option->get_snames()) valuedNames.insert(fmt::format("-{}", name));
      for (const std::string& name : option->get_lnames()) valuedNames.insert(fmt::format("--{}", name));
    }
  };
  addValued(app);
  for (const CLI::App* command : Commands(app)) addValued(*command);
  std::string valued;
  for (const std::string& name : valuedNames) valued += fmt::format("|{}", name);

  out << "# bash completion for cuserver, written by `cuserver --bash-completion`.\n"
      << "_cuserver() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command= i\n"
      << "  case $prev in\n"
      << "    " << (valued.empty() ? "--" : valued.substr(1)) << ")\n"
      << "      COMPREPLY=($(compgen -f -- \"$cur\"))\n"
      << "      return ;;\n"
      << "  esac\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    case \" " << names << " \" in\n"
      << "      *\" ${COMP_WORDS[i]} \"*) command=${COMP_WORDS[i]}; break ;;\n"
      << "    esac\n"
      << "  done\n"
      << "  local words\n"
      << "  case $command in\n"
      << "    '') words=\"" << names << words(NamedOptions(app, true)) << "\" ;;\n";
  for (const CLI::App* command : Commands(app)) {
    out << "    " << command->get_name() << ") words=\"--help" << words(NamedOptions(*command, false)) << "\" ;;\n";
  }
  out << "  esac\n"
      << "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
      << "}\n"
      << "complete -F _cuserver cuserver\n";
  return out.str();
}

void AddDocumentationFlags(CLI::App& app) {
  app.add_flag_callback("--man", [&app] {
       std::cout << ManPage(app);
       throw CLI::Success();
     })
      ->group("");
  app.add_flag_callback("--bash-completion", [&app] {
       std::cout << BashCompletion(app);
       throw CLI::Success();
     })
      ->group("");
}

}  // namespace cuserver
