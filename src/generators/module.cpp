#include "generators/module.h"

#include <algorithm>
#include <array>
#include <string>

#include <fmt/core.h>

#include "files/files.h"
#include "files/resolve.h"
#include "generators/registry.h"
#include "layout/layout.h"
#include "naming/naming.h"
#include "templates/templates.h"

namespace generators::module {

namespace {

// The hard keywords of Python 3: none of them can name a package or a class.
constexpr std::array<std::string_view, 35> kPythonKeywords = {
    "False",  "None",     "True",    "and",    "as",       "assert", "async",
    "await",  "break",    "class",   "continue", "def",    "del",    "elif",
    "else",   "except",   "finally", "for",    "from",     "global", "if",
    "import", "in",       "is",      "lambda", "nonlocal", "not",    "or",
    "pass",   "raise",    "return",  "try",    "while",    "with",   "yield",
};

bool is_python_keyword(std::string_view word) {
  return std::ranges::find(kPythonKeywords, word) != kPythonKeywords.end();
}

// Refuses a module whose directory or file names the file system cannot hold, before any of
// them is written: otherwise the run would stop halfway, with part of the module on disk.
error::Result<void> check_names_fit(const std::filesystem::path& module_dir,
                                    const render::Context& context) {
  std::size_t longest = module_dir.filename().native().size();
  for (const templates::TemplateFile& record : templates::kTemplates) {
    if (record.group != "module") continue;
    error::Result<std::string> rendered = render::render_str(record.path, context);
    if (!rendered) return error::pass(rendered);
    for (const auto& name : std::filesystem::path(render::strip_template_suffix(*rendered))) {
      longest = std::max(longest, name.native().size());
    }
  }
  const std::size_t allowed = files::longest_file_name(module_dir);
  if (longest <= allowed) return {};
  return error::fail(fmt::format(
      "invalid module name \"{}\": its longest file name would be {} bytes, more than the file "
      "system allows ({})",
      module_dir.filename().native(), longest, allowed));
}

}  // namespace

render::Context module_context(std::string_view feature, std::string_view source) {
  std::string snake = naming::to_snake(feature);
  std::string plural = naming::to_plural(snake);
  render::Context context;
  context.put("pascal", naming::to_pascal(feature));
  context.put("snake", std::move(snake));
  context.put("kebab", naming::to_kebab(feature));
  context.put("plural", std::move(plural));
  context.put("source", std::string(source));
  return context;
}

error::Result<std::vector<writers::GeneratedFile>> generate_module(
    std::string_view feature, files::ProjectRoot& project,
    std::optional<std::string_view> source, bool force, bool dry_run) {
  const std::filesystem::path& root = project.path();
  // A name that cannot become a Python package is refused before anything is written.
  if (auto valid = check_feature_name(feature); !valid)
    return error::pass(valid);
  const std::string source_dir = layout::source_or_detected(root, source);
  const std::filesystem::path module_dir =
      layout::modules_dir(root, source_dir) / naming::to_snake(feature);
  const render::Context context = module_context(feature, source_dir);
  if (auto fits = check_names_fit(module_dir, context); !fits)
    return error::pass(fits);
  return render::render_tree(project, "module", context, module_dir, force, dry_run);
}

error::Result<void> check_feature_name(std::string_view feature) {
  const std::string snake = naming::to_snake(feature);
  // An empty form would make the modules package itself the module directory, so the
  // module's __init__.py would land on the registry.
  if (snake.empty()) {
    // Shown escaped: a name of control or separator characters would otherwise garble the
    // error line or vanish from it.
    return error::fail(
        fmt::format("invalid feature name {:?}: it has no ASCII letter or digit", feature));
  }
  // Every generated file imports the package by this name, so it must be an identifier.
  if (snake.front() >= '0' && snake.front() <= '9') {
    return error::fail(fmt::format(
        "invalid module name \"{}\": a Python module name cannot start with a digit", snake));
  }
  if (is_python_keyword(snake)) {
    return error::fail(fmt::format("invalid module name \"{}\": it is a Python keyword", snake));
  }
  // The Pascal form names the entity class; "none" would give `class None(Base):`.
  const std::string pascal = naming::to_pascal(feature);
  if (is_python_keyword(pascal)) {
    return error::fail(fmt::format(
        "invalid module name \"{}\": its class name \"{}\" is a Python keyword", snake, pascal));
  }
  // Importing the package <source>.modules.modules sets the attribute "modules" of <source>.modules
  // to it, in place of the registry's dictionary that every project reads.
  if (snake == registry::kRegistryVar) {
    return error::fail(fmt::format(
        "invalid module name \"{}\": it would replace the module registry's dictionary", snake));
  }
  // pytest collects every test_*.py: the module's service and repository files would be taken
  // for test files.
  if (snake == "test" || snake.starts_with("test_")) {
    return error::fail(fmt::format(
        "invalid module name \"{}\": pytest would collect its service and repository files as "
        "tests",
        snake));
  }
  return {};
}

}  // namespace generators::module
