#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cli/commands.h"
#include "cli/definitions.h"
#include "style/output.h"

// Parsing the process arguments against the definition: the glue that CLI11 needs for help,
// usage errors, suggestions and the value rules, and the layout of the parser's texts.
namespace cli {

/// What the parser prints instead of running a command (help, the version or a usage error),
/// and the status that the process then ends with.
struct ParserOutcome {
  std::string text;
  style::Stream stream;
  int status;
  bool operator==(const ParserOutcome&) const = default;
};

/// Parses the arguments (without the program name) and converts them into the command line
/// to run, or into the parser's outcome.
std::variant<Cli, ParserOutcome> parse_command_line(const std::vector<std::string>& args);

/// The short help (`-h`) shows a command's about, the long help (`--help`) its long about.
enum class HelpMode { Short, Long };

/// The help text of `command`, ending with a line feed.
std::string help_text(const Command& command, HelpMode mode);

/// The usage of `command`: "brintle new [OPTIONS] <NAME>".
std::string usage(const Command& command);

/// An argument as messages name it: "--dir <DIR>", "--dry-run", "<NAME>".
std::string arg_display(const CLI::Option& option);

/// The usage error of an option given without its value, or with an empty one.
std::string value_required_message(const CLI::Option& option);

}  // namespace cli
