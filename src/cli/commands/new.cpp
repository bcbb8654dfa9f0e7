#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "cli/cli.h"
#include "files/files.h"
#include "files/resolve.h"
#include "generators/project.h"
#include "style/style.h"
#include "text/text.h"
#include "writers/writers.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

/// Every new project starts at this version.
constexpr std::string_view kNewProjectVersion = "0.1.0";

/// The project directory: the base itself for exactly ".", else the base joined with the name.
fs::path project_directory(const fs::path& base, std::string_view name) {
  if (name == generators::project::kInPlace) return base;
  return base / fs::path(std::string(name));
}

/// Refuses to scaffold over something: a target that exists must be a directory, and an empty
/// one unless `force` is on. Runs in a dry run too, so the preview fails the way the run would.
[[nodiscard]] error::Result<void> check_target(const fs::path& target, bool force) {
  if (!files::exists(target)) return {};
  error::Result<bool> occupied = files::has_entry(target);
  if (!occupied) return error::pass(occupied);
  if (*occupied && !force) {
    return error::fail(
        fmt::format("Directory {} already exists and is not empty. Use --force to overwrite.",
                    text::lossy_utf8(target.native())));
  }
  return {};
}

/// The path as one shell word, so that the suggested command can be pasted as it stands. A path
/// of letters, digits and the usual punctuation of file names is shown as it is; any other
/// (a blank, a quote, "$", "~" …) goes in single quotes.
std::string shell_word(std::string_view path) {
  const auto plain = [](char c) {
    return static_cast<unsigned char>(c) >= 0x80 || text::is_ascii_alphanumeric(c) ||
           std::string_view("@%+=:,./_-").contains(c);
  };
  if (!path.empty() && std::ranges::all_of(path, plain)) return std::string(path);
  std::string quoted = "'";
  for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

error::Result<Messages> run_new(New command) {
  const fs::path target = project_directory(resolve_dir(command.dir), command.name);
  // Taken before the check, so that of two runs into one directory the second finds the
  // first one's project there, whichever way each spells it (`new shop` from the parent,
  // `new . --dir shop`). A name that is refused anyway makes no directory.
  const bool writes =
      !command.dry_run && generators::project::check_project_name(command.name, target);
  const error::Result<files::DirectoryLock> lock = lock_project(target, writes);
  if (!lock) return error::pass(lock);
  if (auto checked = check_target(target, command.force); !checked) {
    return error::pass(checked);
  }

  // Every write of the run resolves beneath this one handle on the project directory.
  files::ProjectRoot project(target);
  std::optional<std::string_view> title;
  if (command.title) title = *command.title;
  error::Result<std::vector<writers::GeneratedFile>> files =
      generators::project::generate_project(command.name, project, title, command.description,
                                            kNewProjectVersion, command.force, command.dry_run);
  if (!files) return error::pass(files);

  Messages messages = writers::report(*files, command.dry_run);
  if (command.dry_run) return messages;
  const std::string shown = style::escape_controls(text::lossy_utf8(target.native()));
  messages.push_back(style::Green{fmt::format("Project created at {}", shown)}.str());
  messages.push_back(
      style::Cyan{fmt::format("cd {} && uv sync && uv run uvicorn src.main:app --reload",
                              shell_word(shown))}
          .str());
  return messages;
}

}  // namespace cli
