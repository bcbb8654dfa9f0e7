#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "cli/cli.h"
#include "generators/core.h"
#include "generators/main.h"
#include "generators/module.h"
#include "generators/registry.h"
#include "style/output.h"
#include "style/style.h"
#include "writers/writers.h"

namespace cli {

Result<void> run_make_module(Module command) {
  // A name that cannot become a Python package is refused before anything is written.
  if (auto valid = generators::module::check_feature_name(command.feature); !valid) {
    return fail(std::move(valid).error());
  }
  const std::filesystem::path root = resolve_dir(command.dir);

  auto module_files = generators::module::generate_module(command.feature, root, std::nullopt,
                                                          command.force, command.dry_run);
  if (!module_files) return fail(std::move(module_files).error());
  std::vector<GeneratedFile> files = std::move(*module_files);

  auto core_files = generators::core::generate_core(root, std::nullopt, command.dry_run);
  if (!core_files) return fail(std::move(core_files).error());
  std::ranges::move(*core_files, std::back_inserter(files));

  auto registry =
      generators::registry::register_module(root, command.feature, std::nullopt, command.dry_run);
  if (!registry) return fail(std::move(registry).error());
  files.push_back(std::move(*registry));

  auto main_file = generators::main::sync_main(root, std::nullopt, command.dry_run);
  if (!main_file) return fail(std::move(main_file).error());
  files.push_back(std::move(*main_file));

  writers::report(files, command.dry_run);

  // The registry and main.py count too, although --force never reaches their generators.
  const auto skipped = std::ranges::count(files, WriteStatus::Skipped, &GeneratedFile::status);
  if (skipped > 0 && !command.force) {
    const std::string warning =
        fmt::format("{} file(s) already exist. Re-run with --force to overwrite.", skipped);
    style::print_stdout(style::Yellow{warning}.str());
  }
  return {};
}

}  // namespace cli
