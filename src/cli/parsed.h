#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

// The parsed command line: what the parser's result is converted into and what the dispatch
// hands to each command.
namespace cli {

/// `brintle new NAME`
struct New {
  std::string name;
  std::filesystem::path dir;
  std::optional<std::string> title;
  std::string description;
  bool dry_run = false;
  bool force = false;
  bool operator==(const New&) const = default;
};

/// `brintle make module FEATURE`
struct MakeModule {
  std::string feature;
  std::filesystem::path dir;
  bool dry_run = false;
  bool force = false;
  bool operator==(const MakeModule&) const = default;
};
using MakeCommands = std::variant<MakeModule>;

/// `brintle init alembic`
struct InitAlembic {
  std::filesystem::path dir;
  bool dry_run = false;
  bool operator==(const InitAlembic&) const = default;
};
using InitCommands = std::variant<InitAlembic>;

/// `brintle make ...`
struct Make {
  MakeCommands command;
  bool operator==(const Make&) const = default;
};

/// `brintle init ...`
struct Init {
  InitCommands command;
  bool operator==(const Init&) const = default;
};

/// `brintle list`
struct List {
  std::filesystem::path dir;
  bool operator==(const List&) const = default;
};

using Commands = std::variant<New, Make, Init, List>;

/// The whole parsed command line; no command when none was matched.
struct Cli {
  std::optional<Commands> command;
  bool operator==(const Cli&) const = default;
};

}  // namespace cli
