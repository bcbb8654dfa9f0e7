#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "generators/registry.h"
#include "layout/layout.h"
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
  // Every cell comes from the project's files, which may hold escape sequences of their own.
  for (const auto& module : modules) {
    rows.push_back({style::escape_controls(module.name), style::escape_controls(module.import_path),
                    style::escape_controls(module.description)});
  }
  return table::render({"module", "path", "description"}, rows);
}

}  // namespace

error::Result<Messages> run_list(List command) {
  const std::filesystem::path root = resolve_dir(command.dir);
  // Reading the registry never fails: a project without one simply has no modules yet.
  const std::string source = layout::source_dir_name(root);
  const auto modules = generators::registry::list_registered(root, source);
  Messages messages{style::Bold{kTitle}.str(), module_table(modules)};
  if (modules.empty()) messages.push_back(style::Yellow{kEmptyHint}.str());
  return messages;
}

}  // namespace cli
