#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "writers/writers.h"

namespace generators::core {

/// Fills the gaps of <root>/<source>/core in the project: __init__.py when missing, config.py
/// and database.py when missing or blank. A core file with content is never replaced and gives
/// no record.
[[nodiscard]] error::Result<std::vector<writers::GeneratedFile>> generate_core(
    files::ProjectRoot& project, std::string_view source, bool dry_run);

}  // namespace generators::core
