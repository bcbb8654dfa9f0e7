#pragma once

#include <filesystem>
#include <optional>

#include <nlohmann/json_fwd.hpp>

// The project's configuration file as JSON. A header of its own, beside layout/layout.h, so
// that only the units that look into the configuration pay for the JSON types.
namespace layout {

/// The configuration object of the project, or none when the file is missing, unreadable,
/// not UTF-8, not one JSON text, or not an object. Never reports anything.
std::optional<nlohmann::json> read_config(const std::filesystem::path& root);

}  // namespace layout
