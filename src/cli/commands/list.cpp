#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "generators/registry.h"
#include "style/output.h"
#include "style/style.h"
#include "table/table.h"

namespace cli {
namespace {

constexpr std::string_view kTitle = "Registered modules";
constexpr std::string_view kEmptyHint =
    "No modules registered yet. Run `brintle make module <name>`.";

std::string module_table(const std::vector<generators::registry::RegisteredModule>& modules) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(modules.size());
  for (const auto& module : modules) {
    rows.push_back({module.name, module.import_path, module.description});
  }
  return table::render({"module", "path", "description"}, rows);
}

}  // namespace

Result<void> run_list(List command) {
  const std::filesystem::path root = resolve_dir(command.dir);
  // Reading the registry never fails: a project without one simply has no modules yet.
  const auto modules = generators::registry::list_registered(root, std::nullopt);
  style::print_stdout(style::Bold{kTitle}.str());
  style::print_stdout(module_table(modules));
  if (modules.empty()) style::print_stdout(style::Yellow{kEmptyHint}.str());
  return {};
}

}  // namespace cli
