#include "generators/module.h"

#include <algorithm>
#include <array>
#include <ranges>
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

// What the feature's forms name at module level in each module file, beside the file's own names
// that it reads after them: what it imports, what it defines and the builtins it uses. A form
// that takes one of those names hides it, and the file fails at import or lint: the entity class
// `Depends`, imported into the router after FastAPI's, replaces it. Both lists are template text
// separated by blanks. This table must follow the templates in templates/module/: a name that a
// template comes to import, define or read belongs here too. A name read only above every
// feature name is left out, as it is read before anything hides it; a file where no form names
// anything at module level (the package's __init__.py, the tests) has no row. For the same
// reason the router reaches fastapi.Path through its package: a module named path still works.
struct ModuleFileNames {
  std::string_view file;           // the output path, as template text
  std::string_view feature_names;  // what the forms name there, as template text
  std::string_view own_names;      // the file's names that it reads after them
};

constexpr std::array<ModuleFileNames, 6> kModuleFileNames = {{
    // get_session is read once, by SessionDep, above the endpoints: the feature "session" may
    // name its endpoint get_session.
    {"api/router.py",
     "{{ pascal }}NotFound {{ pascal }}Service {{ pascal }}Create {{ pascal }}Read "
     "{{ pascal }}Update {{ pascal }} Sql{{ pascal }}Repository {{ pascal }}Id create_{{ snake }} "
     "list_{{ plural }} get_{{ snake }} update_{{ snake }} delete_{{ snake }}",
     "Annotated fastapi APIRouter Depends HTTPException status AsyncSession SessionDep router "
     "_service int list"},
    {"application/schemas.py",
     "{{ pascal }}Base {{ pascal }}Create {{ pascal }}Update {{ pascal }}Read",
     "BaseModel ConfigDict int"},
    {"application/{{ snake }}_service.py",
     "{{ pascal }}Create {{ pascal }}Update {{ pascal }} {{ pascal }}Repository {{ pascal }}Error "
     "{{ pascal }}NotFound {{ pascal }}Service",
     "Exception classmethod int list"},
    // Mapped, mapped_column, Base and int are read only by the entity's class statement, before
    // its name is bound: the features "mapped" and "base" work.
    {"domain/model.py", "{{ pascal }}", ""},
    {"domain/repository.py", "{{ pascal }} {{ pascal }}Repository", "Protocol int list"},
    {"infrastructure/{{ snake }}_repository.py", "{{ pascal }} Sql{{ pascal }}Repository",
     "select AsyncSession list"},
}};

// The words of a blank-separated list.
auto words(std::string_view list) {
  return list | std::views::split(' ') |
         std::views::transform([](auto word) { return std::string_view(word); }) |
         std::views::filter([](std::string_view word) { return !word.empty(); });
}

bool has_word(std::string_view list, std::string_view word) {
  return std::ranges::any_of(words(list), [word](std::string_view each) { return each == word; });
}

// Refuses a feature one of whose forms would hide a name that a module file reads.
[[nodiscard]] error::Result<void> check_no_hidden_names(std::string_view snake,
                                                        const render::Context& context) {
  for (const ModuleFileNames& row : kModuleFileNames) {
    error::Result<std::string> named = render::render_str(row.feature_names, context);
    if (!named) return error::pass(named);
    for (const std::string_view name : words(*named)) {
      if (!has_word(row.own_names, name)) continue;
      error::Result<std::string> file = render::render_str(row.file, context);
      if (!file) return error::pass(file);
      // Classes take the Pascal form, functions the snake form.
      const bool is_class = name.front() >= 'A' && name.front() <= 'Z';
      return error::fail(fmt::format(
          "invalid module name \"{}\": its {} name \"{}\" would hide a name that {} uses", snake,
          is_class ? "class" : "function", name, *file));
    }
  }
  return {};
}

// Refuses a module whose directory or file names the file system cannot hold, before any of
// them is written: otherwise the run would stop halfway, with part of the module on disk.
[[nodiscard]] error::Result<void> check_names_fit(const std::filesystem::path& module_dir,
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

error::Result<std::vector<writers::GeneratedFile>> generate_module(std::string_view feature,
                                                                   files::ProjectRoot& project,
                                                                   std::string_view source,
                                                                   bool force, bool dry_run) {
  const std::filesystem::path& root = project.path();
  // A name that cannot become a Python package is refused before anything is written.
  if (auto valid = check_feature_name(feature); !valid) return error::pass(valid);
  const std::filesystem::path module_dir =
      layout::modules_dir(root, source) / naming::to_snake(feature);
  const render::Context context = module_context(feature, source);
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
  if (naming::is_python_keyword(snake)) {
    return error::fail(fmt::format("invalid module name \"{}\": it is a Python keyword", snake));
  }
  // The Pascal form names the entity class; "none" would give `class None(Base):`.
  const std::string pascal = naming::to_pascal(feature);
  if (naming::is_python_keyword(pascal)) {
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
  return check_no_hidden_names(snake, module_context(feature, ""));
}

}  // namespace generators::module
