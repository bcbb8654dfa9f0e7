#include "generators/project.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

#include <fmt/core.h>

#include "files/files.h"
#include "files/resolve.h"
#include "generators/alembic.h"
#include "generators/core.h"
#include "generators/dependency_names.h"
#include "generators/registry.h"
#include "layout/layout.h"
#include "naming/naming.h"
#include "text/text.h"

namespace generators::project {

namespace {

namespace fs = std::filesystem;

/// The last named component of the directory. The path is made absolute first so that "."
/// run in /home/u/shop, or --dir ../shop, still names the project after "shop".
std::string directory_name(const fs::path& root) {
  std::error_code error;
  fs::path directory = fs::absolute(root, error);
  if (error) directory = root;
  directory = directory.lexically_normal();
  // "/home/u/shop/" normalises with a trailing separator and so an empty file name.
  if (!directory.has_filename()) directory = directory.parent_path();
  return text::lossy_utf8(directory.filename().native());
}

/// The empty registry, written unless one exists and `force` is off.
[[nodiscard]] error::Result<std::vector<writers::GeneratedFile>> write_registry(
    files::ProjectRoot& project, bool force, bool dry_run) {
  const fs::path path = layout::registry_path(project.path(), kSource);
  if (files::exists(path) && !force) return {};
  error::Result<writers::GeneratedFile> file = writers::write_file(
      project, path, registry::registry_content({}), /*force=*/true, dry_run);
  if (!file) return error::pass(file);
  return std::vector{std::move(*file)};
}

}  // namespace

std::string naming_source(std::string_view name, const std::filesystem::path& root) {
  if (name == kInPlace) return directory_name(root);
  return std::string(name);
}

error::Result<void> check_project_name(std::string_view name, const std::filesystem::path& root) {
  const std::string source = naming_source(name, root);
  const std::string project_name = naming::to_snake(source);
  // A project named after any package it resolves to would depend on itself, which uv refuses.
  // The kebab form is the project name with its separators normalized, as package indexes
  // compare names.
  if (std::ranges::find(kDependencyNames, naming::to_kebab(source)) != kDependencyNames.end()) {
    return error::fail(fmt::format(
        "invalid project name \"{}\": it is the name of one of the project's own dependencies",
        project_name));
  }
  if (!project_name.empty()) return {};
  // Names are shown escaped: control or separator characters would otherwise garble the error
  // line or vanish from it.
  if (name == kInPlace) {
    return error::fail(fmt::format(
        "invalid project name {:?}: the directory name {:?} has no ASCII letter or digit", name,
        source));
  }
  return error::fail(
      fmt::format("invalid project name {:?}: it has no ASCII letter or digit", name));
}

render::Context project_context(std::string_view name, const std::filesystem::path& root,
                                std::optional<std::string_view> title,
                                std::string_view description, std::string_view version) {
  const std::string source = naming_source(name, root);
  render::Context context;
  context.put("source", std::string(kSource));
  context.put("project_name", naming::to_snake(source));
  context.put("title", title ? std::string(*title) : naming::to_title(source));
  context.put("description", std::string(description));
  context.put("version", std::string(version));
  return context;
}

error::Result<std::vector<writers::GeneratedFile>> generate_project(
    std::string_view name, files::ProjectRoot& project, std::optional<std::string_view> title,
    std::string_view description, std::string_view version, bool force, bool dry_run) {
  const std::filesystem::path& root = project.path();
  // An empty project name would make pyproject.toml unusable; refuse before writing anything.
  if (auto checked = check_project_name(name, root); !checked) return error::pass(checked);

  const render::Context context = project_context(name, root, title, description, version);
  std::vector<writers::GeneratedFile> files;
  const error::Result<void> done = writers::append_in_turn(
      files, [&] { return render::render_tree(project, "project", context, root, force, dry_run); },
      [&] { return core::generate_core(project, kSource, dry_run); },
      [&] { return alembic::generate_alembic(project, kSource, dry_run); },
      [&] { return write_registry(project, force, dry_run); },
      [&] { return layout::write_config(project, kSource, dry_run); });
  if (!done) return error::pass(done);
  return files;
}

}  // namespace generators::project
