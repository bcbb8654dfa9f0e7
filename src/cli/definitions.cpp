#include "cli/definitions.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>

#include "cli/parse.h"
#include "text/text.h"

namespace cli {

namespace {

constexpr std::string_view kVersion = "0.7.0";
constexpr std::string_view kAbout =
    "FastAPI feature-based module manager (like a web framework's built-in generator CLI).";

constexpr std::string_view kNewAbout = "Scaffold a new best-practice `FastAPI` project";
constexpr std::string_view kNewLongAbout =
    "Scaffold a new best-practice `FastAPI` project.\n\nGenerates a `src`-layout project: "
    "`.env`, `src/main.py`, `src/core/` (config + async database), the `src/modules/` "
    "registry, a `tests/` suite, plus `pyproject.toml` / `.gitignore` / `.python-version`. "
    "The project is immediately manageable with `brintle make module` / `brintle list`.";
constexpr std::string_view kModuleAbout = "Scaffold a feature module and register it";
constexpr std::string_view kModuleLongAbout =
    "Scaffold a feature module and register it.\n\nGenerates a minimal module skeleton "
    "(schemas / service / router / __init__) that outlines the module's shape; fill in the "
    "entity fields and business logic yourself. The shared core/ database scaffolding and the "
    "module registry are created automatically.";
constexpr std::string_view kAlembicAbout =
    "Add Alembic migration scaffolding to an existing project";
constexpr std::string_view kAlembicLongAbout =
    "Add Alembic migration scaffolding to an existing project.\n\nWrites `alembic.ini` and "
    "`migrations/` (async env + an empty baseline revision), wiring `DATABASE_URL` from the "
    "project's settings and `Base.metadata` from the module registry. Existing files are "
    "never overwritten.";

constexpr std::string_view kDryRunHelp = "Preview files without writing";
constexpr std::string_view kProjectRootHelp = "Target project root";

// The value rules. CLI11 reports a failed check as "<option name>: <message>".
CLI::Validator text_value() {
  return CLI::Validator(
      [](std::string& value) {
        return text::is_valid_utf8(value) ? std::string() : "invalid UTF-8 was detected";
      },
      "");
}

CLI::Validator path_value(std::string message) {
  return CLI::Validator(
      [message = std::move(message)](std::string& value) {
        return value.empty() ? message : std::string();
      },
      "");
}

void add_positional(Command& command, std::string name, std::string_view help) {
  command.add_option(std::move(name), CLI::callback_t(), std::string(help))
      ->required()
      ->check(text_value());
}

CLI::Option* add_valued(Command& command, std::string names, std::string value_name,
                        std::string_view help) {
  return command.add_option(std::move(names), CLI::callback_t(), std::string(help))
      ->type_name(std::move(value_name));
}

// `-d, --dir <DIR>`, default "."
void add_dir(Command& command, std::string_view help) {
  CLI::Option* option = add_valued(command, "-d,--dir", "DIR", help);
  option->check(path_value(value_required_message(*option)));
  command.defaults[option] = ".";
}

void add_text(Command& command, std::string names, std::string value_name,
              std::string_view help, std::optional<std::string> default_value) {
  CLI::Option* option = add_valued(command, std::move(names), std::move(value_name), help);
  option->check(text_value());
  if (default_value) command.defaults[option] = *std::move(default_value);
}

void add_flag(Command& command, std::string names, std::string_view help) {
  const std::string description(help);  // CLI11 takes a non-const string as the flag's variable
  command.add_flag(std::move(names), description);
}

// The parser's own `help` subcommand: names the command whose help to print.
void add_help_command(Command& command) {
  Command& help =
      command.add_command("help", "Print this message or the help of the given subcommand(s)");
  help.set_help_flag();
  help.set_help_all_flag();
  // Any number of names, each naming a subcommand of the one before.
  help.add_option("COMMAND", CLI::callback_t(), "Print help for the subcommand(s)")
      ->expected(1, -1)
      ->allow_extra_args();
}

// A command that only groups subcommands: one of them is required, and alone it shows its help.
template <typename Subcommands>
void add_group(Command& parent, std::string name, std::string about) {
  Command& group = parent.add_command(std::move(name), std::move(about));
  augment_subcommands<Subcommands>(group);
  group.subcommand_required = true;
  group.help_when_bare = true;
}

// --- Conversion ---

// An argument's id is the name of the field that it fills: the long name with '_' for '-',
// or the positional name in lower case.
std::string arg_id(const CLI::Option& option) {
  std::string id = option.get_positional() ? option.get_name(true) : option.get_lnames().front();
  std::ranges::transform(id, id.begin(), [](char c) {
    return c == '-' ? '_' : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return id;
}

const CLI::Option* find_arg(const Command& matches, std::string_view id) {
  for (const CLI::Option* option : matches.get_options()) {
    if ((option->get_positional() || !option->get_lnames().empty()) && arg_id(*option) == id) {
      return option;
    }
  }
  return nullptr;
}

bool is_flag(const CLI::Option& option) { return option.get_expected_max() == 0; }

// Given on the command line, a default, or (a flag) false.
bool has_value(const Command& matches, std::string_view id) {
  const CLI::Option* option = find_arg(matches, id);
  return option != nullptr && (is_flag(*option) || option->count() > 0 ||
                               matches.defaults.contains(option));
}

std::optional<std::string> optional_value(const Command& matches, std::string_view id) {
  const CLI::Option* option = find_arg(matches, id);
  if (option == nullptr) return std::nullopt;
  if (option->count() > 0) return option->results().back();
  if (auto found = matches.defaults.find(option); found != matches.defaults.end()) {
    return found->second;
  }
  return std::nullopt;
}

// Only after `first_missing` has vouched for `id`.
std::string value(const Command& matches, std::string_view id) {
  return optional_value(matches, id).value_or(std::string());
}

bool flag(const Command& matches, std::string_view id) {
  const CLI::Option* option = find_arg(matches, id);
  return option != nullptr && option->count() > 0;
}

// The error for the first of `ids` without a value, in this order.
std::optional<ParserError> first_missing(const Command& matches,
                                         std::initializer_list<std::string_view> ids) {
  for (std::string_view id : ids) {
    if (!has_value(matches, id)) {
      return ParserError{ParserErrorKind::MissingRequiredArgument,
                         "the following required argument was not provided: " + std::string(id)};
    }
  }
  return std::nullopt;
}

// The one subcommand matched at this level.
std::expected<const Command*, ParserError> matched_subcommand(const Command& matches) {
  const std::vector<CLI::App*> matched = matches.get_subcommands();
  if (matched.empty()) {
    return std::unexpected(ParserError{ParserErrorKind::MissingSubcommand,
                                       "a subcommand is required but one was not provided"});
  }
  // Every command of the definition is a Command.
  return static_cast<const Command*>(matched.front());
}

ParserError unrecognized(const Command& subcommand) {
  return {ParserErrorKind::InvalidSubcommand,
          "the subcommand '" + subcommand.get_name() + "' wasn't recognized"};
}

// The one subcommand matched at this level, which must be `name`.
std::expected<const Command*, ParserError> matched_subcommand(const Command& matches,
                                                              std::string_view name) {
  auto matched = matched_subcommand(matches);
  if (matched && (*matched)->get_name() != name) return std::unexpected(unrecognized(**matched));
  return matched;
}

}  // namespace

Command::Command(std::string name, Command* parent) : CLI::App("", std::move(name), parent) {
  set_help_flag("-h", "Print help");
  set_help_all_flag("--help", "Print help");
  // At most one: so that in `make help module`, `module` is a topic of `help`.
  require_subcommand(0, 1);
}

Command& Command::add_command(std::string name, std::string about) {
  auto command = std::make_shared<Command>(std::move(name), this);
  command->description(std::move(about));
  add_subcommand(command);
  return *command;
}

Command& augment_args(Command& top) {
  augment_subcommands<Commands>(top);
  top.set_version_flag("-V,--version", "brintle " + std::string(kVersion), "Print version");
  top.description(std::string(kAbout));
  top.help_when_bare = true;
  return top;
}

template <>
Command& augment_subcommands<Commands>(Command& command) {
  Command& create = command.add_command("new", std::string(kNewAbout));
  create.long_about = kNewLongAbout;
  add_positional(create, "NAME", "Project name, or '.' to scaffold into --dir");
  add_dir(create, "Parent directory for the new project");
  add_text(create, "--title", "TITLE", "Human-readable app title", std::nullopt);
  add_text(create, "--description", "DESCRIPTION", "Short project description", "");
  add_flag(create, "--dry-run", kDryRunHelp);
  add_flag(create, "-f,--force", "Overwrite an existing project");

  add_group<MakeCommands>(command, "make", "Scaffold modules and core infrastructure");
  add_group<InitCommands>(command, "init", "Add optional infrastructure to an existing project");

  Command& list = command.add_command("list", "List registered modules and their boundaries");
  add_dir(list, kProjectRootHelp);

  add_help_command(command);
  return command;
}

template <>
Command& augment_subcommands<MakeCommands>(Command& command) {
  Command& module = command.add_command("module", std::string(kModuleAbout));
  module.long_about = kModuleLongAbout;
  add_positional(module, "FEATURE", "Feature name, e.g. user");
  add_dir(module, kProjectRootHelp);
  add_flag(module, "--dry-run", kDryRunHelp);
  add_flag(module, "-f,--force", "Overwrite existing files");
  add_help_command(command);
  return command;
}

template <>
Command& augment_subcommands<InitCommands>(Command& command) {
  Command& alembic = command.add_command("alembic", std::string(kAlembicAbout));
  alembic.long_about = kAlembicLongAbout;
  add_dir(alembic, kProjectRootHelp);
  add_flag(alembic, "--dry-run", kDryRunHelp);
  add_help_command(command);
  return command;
}

template <>
std::expected<Cli, ParserError> from_arg_matches_mut<Cli>(const Command& matches) {
  const std::vector<CLI::App*> matched = matches.get_subcommands();
  if (matched.empty()) return Cli{};
  const std::string& name = matched.front()->get_name();
  if (name != "new" && name != "make" && name != "init" && name != "list") return Cli{};
  auto command = from_arg_matches_mut<Commands>(matches);
  if (!command) return std::unexpected(std::move(command.error()));
  return Cli{std::move(*command)};
}

template <>
std::expected<Commands, ParserError> from_arg_matches_mut<Commands>(const Command& matches) {
  auto matched = matched_subcommand(matches);
  if (!matched) return std::unexpected(std::move(matched.error()));
  const Command& sub = **matched;
  const std::string& name = sub.get_name();
  if (name == "new") {
    if (auto missing = first_missing(sub, {"name", "dir", "description", "dry_run", "force"})) {
      return std::unexpected(std::move(*missing));
    }
    return New{value(sub, "name"),        value(sub, "dir"),     optional_value(sub, "title"),
               value(sub, "description"), flag(sub, "dry_run"), flag(sub, "force")};
  }
  if (name == "make") {
    auto module = from_arg_matches_mut<MakeCommands>(sub);
    if (!module) return std::unexpected(std::move(module.error()));
    return Make{std::move(*module)};
  }
  if (name == "init") {
    auto alembic = from_arg_matches_mut<InitCommands>(sub);
    if (!alembic) return std::unexpected(std::move(alembic.error()));
    return Init{std::move(*alembic)};
  }
  if (name == "list") {
    if (auto missing = first_missing(sub, {"dir"})) return std::unexpected(std::move(*missing));
    return List{value(sub, "dir")};
  }
  return std::unexpected(unrecognized(sub));
}

template <>
std::expected<MakeCommands, ParserError> from_arg_matches_mut<MakeCommands>(
    const Command& matches) {
  auto matched = matched_subcommand(matches, "module");
  if (!matched) return std::unexpected(std::move(matched.error()));
  const Command& sub = **matched;
  if (auto missing = first_missing(sub, {"feature", "dir", "dry_run", "force"})) {
    return std::unexpected(std::move(*missing));
  }
  return Module{value(sub, "feature"), value(sub, "dir"), flag(sub, "dry_run"),
                flag(sub, "force")};
}

template <>
std::expected<InitCommands, ParserError> from_arg_matches_mut<InitCommands>(
    const Command& matches) {
  auto matched = matched_subcommand(matches, "alembic");
  if (!matched) return std::unexpected(std::move(matched.error()));
  const Command& sub = **matched;
  if (auto missing = first_missing(sub, {"dir", "dry_run"})) {
    return std::unexpected(std::move(*missing));
  }
  return Alembic{value(sub, "dir"), flag(sub, "dry_run")};
}

}  // namespace cli
