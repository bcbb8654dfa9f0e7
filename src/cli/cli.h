#pragma once

#include <filesystem>

#include "cli/commands.h"
#include "error/error.h"

namespace cli {

/// Runs one parsed command.
Result<void> execute(Commands command);

/// "." (also "./", "./.") becomes the current directory; anything else is used unchanged.
std::filesystem::path resolve_dir(const std::filesystem::path& dir);

// The commands, each in src/cli/commands/.
Result<void> run_new(New command);
Result<void> run_make_module(Module command);
Result<void> run_init_alembic(Alembic command);
Result<void> run_list(List command);

}  // namespace cli
