#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "error/error.h"
#include "writers/writers.h"

// Where a project keeps what the generators look for: the configuration file, the source
// directory and the module registry. The configuration as JSON is read through layout/config.h.
namespace layout {

/// The configuration file, in the project root.
inline constexpr std::string_view kConfigFile = ".brintle.json";

/// The configuration key that names the source directory.
inline constexpr std::string_view kSourceDirKey = "source_dir";

/// The source directory name: the configured "source_dir", less trailing "/" ("src/" is src),
/// when that is a non-empty string that stays inside the project (not absolute, no ".."
/// component, no NUL), else "src" when src/main.py exists, else "app".
std::string source_dir_name(const std::filesystem::path& root);

/// source_dir_name, for a command that writes: fails, naming the configuration file, when the
/// configured name is no Python package name, which every generated import starts with.
[[nodiscard]] error::Result<std::string> package_source_dir(const std::filesystem::path& root);

/// root / source / "modules": the folder of the module registry and of every module package.
std::filesystem::path modules_dir(const std::filesystem::path& root, std::string_view source);

/// modules_dir / "__init__.py": the module registry.
std::filesystem::path registry_path(const std::filesystem::path& root, std::string_view source);

/// Writes the configuration that names `source` the source directory, {"source_dir": source}
/// pretty-printed (two-space indent, final "\n"), to the project's configuration file, always
/// overwriting.
[[nodiscard]] error::Result<writers::GeneratedFile> write_config(files::ProjectRoot& project,
                                                                 std::string_view source,
                                                                 bool dry_run);

}  // namespace layout
