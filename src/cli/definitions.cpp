#include "cli/definitions.h"

namespace cli {

namespace {

constexpr std::string_view kDryRunHelp = "Preview files without writing";
constexpr std::string_view kProjectRootHelp = "Target project root";

Arg dir_arg(std::string_view help) {
  return {"dir", ArgKind::Option, "d", "dir", "DIR", help, ".", true};
}
Arg dry_run_arg() { return {"dry_run", ArgKind::Flag, "", "dry-run", "", kDryRunHelp}; }
Arg force_arg(std::string_view help) { return {"force", ArgKind::Flag, "f", "force", "", help}; }
Arg help_arg() { return {"help", ArgKind::Help, "h", "help", "", "Print help"}; }

// The subcommand that prints the help of the commands that it names.
Command help_command() {
  return {"help", "Print this message or the help of the given subcommand(s)", "",
          {{"command", ArgKind::Topics, "", "", "COMMAND", "Print help for the subcommand(s)"}},
          {}};
}

Command group(std::string_view name, std::string_view about, Command subcommand) {
  return {name, about, "", {help_arg()}, {std::move(subcommand), help_command()}, true};
}

Command build() {
  Command create{
      "new", "Scaffold a new best-practice `FastAPI` project",
      "Scaffold a new best-practice `FastAPI` project.\n\nGenerates a `src`-layout project: "
      "`.env`, `src/main.py`, `src/core/` (config + async database), the `src/modules/` "
      "registry, a `tests/` suite, plus `pyproject.toml` / `.gitignore` / `.python-version`. "
      "The project is immediately manageable with `brintle make module` / `brintle list`.",
      {{"name", ArgKind::Positional, "", "", "NAME", "Project name, or '.' to scaffold into --dir"},
       dir_arg("Parent directory for the new project"),
       {"title", ArgKind::Option, "", "title", "TITLE", "Human-readable app title"},
       {"description", ArgKind::Option, "", "description", "DESCRIPTION",
        "Short project description", ""},
       dry_run_arg(), force_arg("Overwrite an existing project"), help_arg()},
      {},
      false,
      Runs::New};
  Command module{
      "module", "Scaffold a feature module and register it",
      "Scaffold a feature module and register it.\n\nGenerates a minimal module skeleton "
      "(schemas / service / router / __init__) that outlines the module's shape; fill in the "
      "entity fields and business logic yourself. The shared core/ database scaffolding and the "
      "module registry are created automatically.",
      {{"feature", ArgKind::Positional, "", "", "FEATURE", "Feature name, e.g. user"},
       dir_arg(kProjectRootHelp), dry_run_arg(), force_arg("Overwrite existing files"),
       help_arg()},
      {},
      false,
      Runs::MakeModule};
  Command alembic{
      "alembic", "Add Alembic migration scaffolding to an existing project",
      "Add Alembic migration scaffolding to an existing project.\n\nWrites `alembic.ini` and "
      "`migrations/` (async env + an empty baseline revision), wiring `DATABASE_URL` from the "
      "project's settings and `Base.metadata` from the module registry. Existing files are "
      "never overwritten.",
      {dir_arg(kProjectRootHelp), dry_run_arg(), help_arg()},
      {},
      false,
      Runs::InitAlembic};
  Command list{"list", "List registered modules and their boundaries", "",
               {dir_arg(kProjectRootHelp), help_arg()}, {}, false, Runs::List};
  return {"brintle",
          "FastAPI feature-based module manager (like a web framework's built-in generator CLI).",
          "",
          {help_arg(), {"version", ArgKind::Version, "V", "version", "", "Print version"}},
          {std::move(create),
           group("make", "Scaffold modules and core infrastructure", std::move(module)),
           group("init", "Add optional infrastructure to an existing project", std::move(alembic)),
           std::move(list), help_command()}};
}

}  // namespace

std::string_view version() { return BRINTLE_VERSION; }

const Command& command_line() {
  static const Command top = build();
  return top;
}

}  // namespace cli
