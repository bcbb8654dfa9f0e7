#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "error/error.h"
#include "writers/writers.h"

// The edit of the application entry `<source>/main.py` that mounts every registered module.
namespace generators::main_py {

/// The five lines inserted after the application line.
inline constexpr std::array<std::string_view, 5> kAutoMountBlock = {
    "# --- brintle: auto-mount (do not remove) ---",
    "for _import_path in modules.values():",
    "    _module = importlib.import_module(_import_path)",
    "    app.include_router(_module.router)",
    "# --- brintle: end auto-mount ---",
};

/// The edited text of main.py, or none when the text needs no change (the block or its
/// include line is already there, on a line that is not inside a string literal). A pure
/// function of the text and the source directory name.
std::optional<std::string> insert_auto_mount(std::string_view text, std::string_view source);

/// Brings <root>/<source>/main.py in the project in step: adds the imports and the auto-mount
/// block once.
[[nodiscard]] error::Result<writers::GeneratedFile> sync_main(files::ProjectRoot& project,
                                                              std::string_view source,
                                                              bool dry_run);

}  // namespace generators::main_py
