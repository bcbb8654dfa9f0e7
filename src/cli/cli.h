#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/parsed.h"
#include "error/error.h"
#include "files/files.h"

namespace cli {

/// What a command that succeeded has to say on standard output, one message a line. The
/// entry prints it: a failed write there decides the exit status.
using Messages = std::vector<std::string>;

/// Runs one parsed command.
[[nodiscard]] error::Result<Messages> execute(Commands command);

/// "." (also "./", "./.") becomes the current directory; anything else is used unchanged.
std::filesystem::path resolve_dir(const std::filesystem::path& dir);

/// The project's one lock, taken by every command that writes: on the directory `dir`, made
/// first when the run `writes`, else the nearest one above it while it is missing. A lock that
/// another process holds is announced at once on standard error, and the run gives up after
/// files::kLockWaitSeconds. A run that writes fails where the lock cannot be taken at all; one
/// that writes nothing (a dry run, a name refused anyway) goes on without it.
[[nodiscard]] error::Result<files::DirectoryLock> lock_project(const std::filesystem::path& dir,
                                                               bool writes);

// The commands, each in src/cli/commands/.
[[nodiscard]] error::Result<Messages> run_new(New command);
[[nodiscard]] error::Result<Messages> run_make_module(MakeModule command);
[[nodiscard]] error::Result<Messages> run_init_alembic(InitAlembic command);
[[nodiscard]] error::Result<Messages> run_list(List command);

}  // namespace cli
