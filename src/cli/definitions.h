#pragma once

#include <expected>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/commands.h"

// The command-line definition on CLI11 and the conversion of its parse result into `Cli`.
namespace cli {

/// One command of the definition: a CLI11 App plus what CLI11 has no place for.
class Command : public CLI::App {
 public:
  /// A command named `name` with the help flags `-h` and `--help` and at most one subcommand.
  explicit Command(std::string name, Command* parent = nullptr);

  /// Adds the subcommand `name` with its about (the short help) and returns it.
  Command& add_command(std::string name, std::string about);

  /// Shown by the long help (`--help`) in place of the about; empty when there is none.
  std::string long_about;
  /// Given nothing, the command prints its help to standard error and the status is 2.
  bool help_when_bare = false;
  /// The command does nothing by itself: one of its subcommands must follow.
  bool subcommand_required = false;
  /// The default of each option that has one; help shows it, also when it is empty.
  std::map<const CLI::Option*, std::string> defaults;
};

/// The kinds of error that the conversion reports.
enum class ParserErrorKind { MissingSubcommand, InvalidSubcommand, MissingRequiredArgument };

/// An error of the parser raised by the conversion.
struct ParserError {
  ParserErrorKind kind;
  std::string message;
  bool operator==(const ParserError&) const = default;
};

/// Adds the subcommands, the version, the about and the settings of the command line to
/// `top`, a command named "brintle" with nothing else, and returns it.
Command& augment_args(Command& top);

/// Adds the subcommands that the parsed type T (Commands, MakeCommands or InitCommands)
/// converts from to `command`, and the parser's own `help` subcommand after them.
template <typename T>
Command& augment_subcommands(Command& command);
template <>
Command& augment_subcommands<Commands>(Command& command);
template <>
Command& augment_subcommands<MakeCommands>(Command& command);
template <>
Command& augment_subcommands<InitCommands>(Command& command);

/// Converts the parse result of one command level into T (Cli, Commands, MakeCommands or
/// InitCommands).
template <typename T>
std::expected<T, ParserError> from_arg_matches_mut(const Command& matches);
template <>
std::expected<Cli, ParserError> from_arg_matches_mut<Cli>(const Command& matches);
template <>
std::expected<Commands, ParserError> from_arg_matches_mut<Commands>(const Command& matches);
template <>
std::expected<MakeCommands, ParserError> from_arg_matches_mut<MakeCommands>(
    const Command& matches);
template <>
std::expected<InitCommands, ParserError> from_arg_matches_mut<InitCommands>(
    const Command& matches);

}  // namespace cli
