#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "writers/writers.h"

namespace generators::project {

/// Fills a new project directory: the project group, core, Alembic, the empty registry and
/// the configuration file, in that order.
Result<std::vector<GeneratedFile>> generate_project(std::string_view name,
                                                    const std::filesystem::path& root,
                                                    std::optional<std::string_view> title,
                                                    std::string_view description,
                                                    std::string_view version, bool force,
                                                    bool dry_run);

}  // namespace generators::project
