#pragma once

#include <optional>
#include <string_view>
#include <vector>

// The command line as data: every command with its arguments, help texts and settings. The
// parser (cli/parse.h) walks the process arguments over this table and renders help from it.
namespace cli {

/// How an argument is given on the command line.
enum class ArgKind { Positional, Option, Flag, Help, Version, Topics };

/// One argument of a command. Its id is the name of the field that it fills.
struct Arg {
  std::string_view id;
  ArgKind kind;
  std::string_view short_name = {};
  std::string_view long_name = {};
  std::string_view value_name = {};
  std::string_view help = {};
  std::optional<std::string_view> default_value = std::nullopt;
  /// A path may hold any bytes but must not be empty; any other value must be UTF-8.
  bool is_path = false;
};

/// The command a parsed command line runs: none for one that only groups subcommands or
/// prints help.
enum class Runs { Nothing, New, MakeModule, InitAlembic, List };

/// One command: its subcommands are listed in help in their order, `help` last.
struct Command {
  std::string_view name;
  std::string_view about;
  /// Shown by `--help` in place of the about; empty when there is none.
  std::string_view long_about;
  std::vector<Arg> args;
  std::vector<Command> subcommands;
  /// The command only groups subcommands: one must follow, and alone it shows its help.
  bool subcommand_required = false;
  Runs runs = Runs::Nothing;
};

/// The version line's number, as the build gives it.
std::string_view version();

/// The top command "brintle" with the whole tree below it.
const Command& command_line();

}  // namespace cli
