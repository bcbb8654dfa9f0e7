#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "render/render.h"
#include "writers/writers.h"

namespace generators::module {

/// The context of the "module" group: pascal, snake, kebab, plural (of the snake form), source.
render::Context module_context(std::string_view feature, std::string_view source);

/// Writes the feature module's files under <root>/<source>/modules/<snake>/ in the project,
/// after check_feature_name: a refused name writes nothing.
[[nodiscard]] error::Result<std::vector<writers::GeneratedFile>> generate_module(
    std::string_view feature, files::ProjectRoot& project, std::string_view source, bool force,
    bool dry_run);

/// Refuses a feature name whose forms cannot make an importable Python package (an empty snake
/// form, one starting with a digit, or a snake or Pascal form that is a Python keyword), or
/// would break the project: the snake form "modules", the registry's own name, or one that is
/// "test" or starts with "test_", which pytest would collect; or one whose class or function name
/// would hide a name that the module's own files use (the class `Depends` in the router).
[[nodiscard]] error::Result<void> check_feature_name(std::string_view feature);

}  // namespace generators::module
