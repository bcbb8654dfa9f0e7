#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "error/error.h"

namespace cli {

/// What a command that succeeded has to say on standard output, one message a line. The
/// entry prints it: a failed write there decides the exit status.
using Messages = std::vector<std::string>;

/// Runs one parsed command.
error::Result<Messages> execute(Commands command);

/// "." (also "./", "./.") becomes the current directory; anything else is used unchanged.
std::filesystem::path resolve_dir(const std::filesystem::path& dir);

// The commands, each in src/cli/commands/.
error::Result<Messages> run_new(New command);
error::Result<Messages> run_make_module(Module command);
error::Result<Messages> run_init_alembic(Alembic command);
error::Result<Messages> run_list(List command);

}  // namespace cli
