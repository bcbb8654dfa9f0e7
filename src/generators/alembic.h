#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "writers/writers.h"

namespace generators::alembic {

/// The UTC time `seconds` after the Unix epoch as "YYYY-MM-DD HH:MM:SS" (negative counts as 0).
std::string format_create_date(std::int64_t seconds);

/// Writes alembic.ini and migrations/ into the project's root; never overwrites.
[[nodiscard]] error::Result<std::vector<writers::GeneratedFile>> generate_alembic(
    files::ProjectRoot& project, std::string_view source, bool dry_run);

}  // namespace generators::alembic
