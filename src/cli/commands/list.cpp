#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "generators/registry.h"
#include "layout/layout.h"
#include "style/output.h"
#include "style/style.h"
#include "table/table.h"

namespace cli {
namespace {

constexpr std::string_view kTitle = "Registered modules";
constexpr std::string_view kEmptyHint =
    "No modules registered yet. Run `brintle make module <name>`.";

// The cells of the table, row by row, as they are shown. Every cell comes from the project's
// files, which may hold escape sequences of their own: those are shown escaped. The others
// are shown as they are, without a copy.
class ModuleCells {
 public:
  explicit ModuleCells(const std::vector<generators::registry::RegisteredModule>& modules) {
    cells_.reserve(3 * modules.size());
    for (const auto& module : modules) {
      add(module.name);
      add(module.import_path);
      add(module.description);
    }
  }
  const std::vector<std::string_view>& cells() const { return cells_; }

 private:
  void add(std::string_view text) {
    cells_.push_back(style::has_controls(text) ? escaped_.emplace_back(style::escape_controls(text))
                                               : text);
  }

  std::vector<std::string_view> cells_;
  std::deque<std::string> escaped_;  // a deque keeps its strings in place as it grows
};

}  // namespace

error::Result<Messages> run_list(List command) {
  const std::filesystem::path root = resolve_dir(command.dir);
  // Reading the registry never fails: a project without one simply has no modules yet.
  const std::string source = layout::source_dir_name(root);
  const auto modules = generators::registry::list_registered(root, source);
  const ModuleCells cells(modules);
  const std::vector<std::string_view> header = {"module", "path", "description"};

  // A long table is printed here piece by piece as it is drawn, never held whole: each piece
  // waits until the next one comes, and the last goes to the entry like any message. A failed
  // write stops the drawing and leaves its line to the entry, whose print of it fails as well
  // and ends the run with the status for that.
  Messages messages{style::Bold{kTitle}.str()};
  table::draw(header, cells.cells(), [&messages](std::string_view piece) {
    for (const std::string& message : messages) {
      if (!style::print_line(style::Stream::Stdout, message)) return false;
    }
    messages.resize(1);
    messages.front().assign(piece);
    return true;
  });
  if (modules.empty()) messages.push_back(style::Yellow{kEmptyHint}.str());
  return messages;
}

}  // namespace cli
