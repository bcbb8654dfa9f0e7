#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/parsed.h"
#include "style/output.h"

// Parsing the process arguments against the command table (cli/definitions.h), and the
// texts the parser prints instead of running a command: help, the version and usage errors.
namespace cli {

/// What the parser prints instead of running a command, and the status the process ends
/// with. The text carries its colour codes; style::print_text prints it.
struct ParserOutcome {
  std::string text;
  style::Stream stream;
  int status;
  bool operator==(const ParserOutcome&) const = default;
};

/// The name usage lines give the program: the file name of `argv0` when it is UTF-8,
/// "brintle" otherwise.
std::string program_name(std::string_view argv0);

/// Parses the arguments (without the program name) into the command line to run, or into
/// the parser's outcome; `program` names the program in usage lines.
std::variant<Cli, ParserOutcome> parse_command_line(const std::vector<std::string>& args,
                                                    std::string_view program = "brintle");

}  // namespace cli
