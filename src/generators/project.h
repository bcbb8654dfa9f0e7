#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "render/render.h"
#include "writers/writers.h"

namespace generators::project {

/// The source directory name of every new project.
inline constexpr std::string_view kSource = "src";

/// The name "." that scaffolds into the project directory itself.
inline constexpr std::string_view kInPlace = ".";

/// The text the project's name forms come from: the name, or for "." the last component of
/// the project directory (made absolute and normalised lexically, so "/home/u/shop/" is shop).
std::string naming_source(std::string_view name, const std::filesystem::path& root);

/// Fails, naming the name and why, when the name (or, for ".", the directory's name) has no
/// ASCII letter or digit and so no project name, or gives the name of one of the generated
/// project's own dependencies.
[[nodiscard]] error::Result<void> check_project_name(std::string_view name,
                                                     const std::filesystem::path& root);

/// The context of the project group: source, project_name, title, description, version.
render::Context project_context(std::string_view name, const std::filesystem::path& root,
                                std::optional<std::string_view> title,
                                std::string_view description, std::string_view version);

/// Fills a new project directory: the project group, core, Alembic, the empty registry and
/// the configuration file, in that order. Refuses a name without a project name before
/// writing anything.
[[nodiscard]] error::Result<std::vector<writers::GeneratedFile>> generate_project(
    std::string_view name, files::ProjectRoot& project, std::optional<std::string_view> title,
    std::string_view description, std::string_view version, bool force, bool dry_run);

}  // namespace generators::project
