#pragma once

#include <filesystem>
#include <string_view>

#include "error/error.h"

// Replacing a file's whole content so that no reader, interrupt or failure sees half of it.
namespace files {

/// Creates `dir` and every missing ancestor (mode 0777 less the umask); a directory that is
/// already there is no error.
error::Result<void> create_dir_all(const std::filesystem::path& dir);

/// Makes `data` the whole content of the regular file at `path`, through symbolic links at its
/// end, creating it when nothing is there. The bytes go to a temporary file beside it, renamed
/// into place once complete; it keeps the replaced file's permission bits and extended
/// attributes. A file with other names (hard links), or one that cannot be renamed over, is
/// rewritten in place instead, its old bytes put back when that fails. A FIFO, a device or a
/// socket is refused without waiting on it. Whatever fails, the old file keeps its bytes and
/// no temporary file is left.
error::Result<void> replace_whole_file(const std::filesystem::path& path, std::string_view data);

/// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file being written before the process
/// ends by that signal. A signal that the process was started ignoring stays ignored.
void remove_temporary_file_on_termination_signals();

}  // namespace files
