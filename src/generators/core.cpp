#include "generators/core.h"

#include <string>

#include "files/files.h"
#include "files/resolve.h"
#include "render/render.h"
#include "text/text.h"

namespace generators::core {

namespace {

// What a settings or database module on disk asks of the generator.
enum class ModuleState { Missing, Blank, Kept };

// Only a path that names nothing counts as missing. A file that exists but cannot be read as
// UTF-8 (bad bytes, no permission, a directory) may hold the developer's work, so it is kept.
ModuleState module_state(const std::filesystem::path& path) {
  if (files::is_missing(path)) return ModuleState::Missing;
  const auto text = files::read_text(path);
  if (!text) return ModuleState::Kept;
  return text::trim(*text).empty() ? ModuleState::Blank : ModuleState::Kept;
}

// Writes one core module from its template when it is missing or blank; none when it is kept.
[[nodiscard]] error::Result<std::optional<writers::GeneratedFile>> fill_module(
    files::ProjectRoot& project, const std::filesystem::path& path, std::string_view template_name,
    const render::Context& context, bool dry_run) {
  if (module_state(path) == ModuleState::Kept) return std::nullopt;
  auto text = render::render_template("core", template_name, context);
  if (!text) return error::pass(text);
  auto file = writers::write_file(project, path, *text, /*force=*/true, dry_run);
  if (!file) return error::pass(file);
  return std::optional<writers::GeneratedFile>(std::move(*file));
}

}  // namespace

error::Result<std::vector<writers::GeneratedFile>> generate_core(files::ProjectRoot& project,
                                                                 std::string_view source,
                                                                 bool dry_run) {
  const std::filesystem::path& root = project.path();
  const std::filesystem::path core_dir = root / source / "core";
  render::Context context;
  context.put("source", std::string(source));

  std::vector<writers::GeneratedFile> records;
  const std::filesystem::path package = core_dir / "__init__.py";
  if (!files::exists(package)) {
    auto file = writers::write_file(project, package, "", /*force=*/false, dry_run);
    if (!file) return error::pass(file);
    records.push_back(std::move(*file));
  }
  for (const auto& [name, template_name] : {std::pair{"config.py", "config.py.j2"},
                                            std::pair{"database.py", "database.py.j2"}}) {
    auto file = fill_module(project, core_dir / name, template_name, context, dry_run);
    if (!file) return error::pass(file);
    if (*file) records.push_back(std::move(**file));
  }
  return records;
}

}  // namespace generators::core
