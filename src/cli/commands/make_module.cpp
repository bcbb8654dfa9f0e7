#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "cli/cli.h"
#include "files/files.h"
#include "files/replace.h"
#include "files/resolve.h"
#include "generators/core.h"
#include "generators/main_py.h"
#include "generators/module.h"
#include "generators/registry.h"
#include "layout/layout.h"
#include "style/style.h"
#include "writers/writers.h"

namespace cli {

error::Result<Messages> run_make_module(MakeModule command) {
  const std::filesystem::path root = resolve_dir(command.dir);
  // Runs in one project take turns: each reads the registry and main.py, adds to them and
  // writes them back, so two at once would each drop what the other added.
  // A name that is refused anyway makes no project directory.
  const bool writes =
      !command.dry_run && generators::module::check_feature_name(command.feature).has_value();
  const error::Result<files::DirectoryLock> lock = lock_project(root, writes);
  if (!lock) return error::pass(lock);
  // Decided once: nothing the steps write changes which source directory the project uses.
  const error::Result<std::string> source_dir = layout::package_source_dir(root);
  if (!source_dir) return error::pass(source_dir);
  const std::string& source = *source_dir;
  const bool dry_run = command.dry_run;
  // Every write of the run resolves beneath this one handle on the project directory.
  files::ProjectRoot project(root);
  // The files edited in place are looked at before anything is written: one that leads outside
  // the project is refused, and one that a stopped run left half rewritten, or a registry whose
  // rewrite would lose an entry, is the user's to settle first.
  for (const auto& edited : {layout::registry_path(root, source), root / source / "main.py"}) {
    error::Result<void> checked = project.check_inside(edited);
    if (checked) checked = files::check_no_interrupted_rewrite(project, edited);
    if (!checked) return error::pass(checked);
  }
  error::Result<generators::registry::Registration> registration =
      generators::registry::plan_registration(root, command.feature, source);
  if (!registration) return error::pass(registration);

  std::vector<writers::GeneratedFile> files;
  const error::Result<void> done = writers::append_in_turn(
      files,
      [&] {
        return generators::module::generate_module(command.feature, project, source,
                                                   command.force, dry_run);
      },
      [&] { return generators::core::generate_core(project, source, dry_run); },
      [&] {
        return generators::registry::register_module(project, std::move(*registration), dry_run);
      },
      [&] { return generators::main_py::sync_main(project, source, dry_run); });
  if (!done) return error::pass(done);

  Messages messages = writers::report(files, command.dry_run);

  // The registry and main.py count too, although --force never reaches their generators.
  const auto skipped =
      std::ranges::count(files, writers::WriteStatus::Skipped, &writers::GeneratedFile::status);
  if (skipped > 0 && !command.force) {
    const std::string warning =
        fmt::format("{} file(s) already exist. Re-run with --force to overwrite.", skipped);
    messages.push_back(style::Yellow{warning}.str());
  }
  return messages;
}

}  // namespace cli
