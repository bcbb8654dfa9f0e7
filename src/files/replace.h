#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string_view>

#include "error/error.h"

// Replacing a file's whole content so that no reader, interrupt or failure sees half of it.
namespace files {

/// Creates `dir` and every missing ancestor (mode 0777 less the umask); a directory that is
/// already there is no error.
error::Result<void> create_dir_all(const std::filesystem::path& dir);

/// Where a write through a path lands.
struct WriteTarget {
  std::filesystem::path path;       ///< the path once the symbolic links at its end are followed
  std::optional<struct stat> info;  ///< what stands there; none when nothing does, or nothing
                                    ///< can be looked at (the write then meets the system's error)
};

/// Follows the symbolic links at the end of `path` (a relative link from the directory that
/// holds it), so that the link stays and its final target is written. Fails with "Too many
/// levels of symbolic links" past 40 of them.
error::Result<WriteTarget> follow_links(const std::filesystem::path& path);

/// `path` with every symbolic link on it followed, absolute; the part of it that does not
/// exist yet is appended as it is written. Fails with the system's error when a directory on
/// the way cannot be looked at.
error::Result<std::filesystem::path> resolved(const std::filesystem::path& path);

/// Makes `data` the whole content of the regular file at `target`, creating it when nothing is
/// there. A new file is given its name once it is whole. A file that is there is replaced by a
/// temporary file beside it, renamed into place once complete, keeping the replaced file's
/// permission bits and extended attributes. A file with other names (hard links), or one that
/// cannot be renamed over, is rewritten in place instead, and only where its old bytes can be
/// read: until the new bytes are whole and synced, a synced copy of the old ones stays beside
/// it (where its directory takes one), and when the rewrite fails they are put back. A FIFO, a
/// device or a socket is refused without waiting on it, and so is a file whose copy an earlier
/// run left (check_no_interrupted_rewrite). Whatever fails, the old file keeps its bytes and no
/// temporary file is left.
error::Result<void> replace_target(const WriteTarget& target, std::string_view data);

/// Fails, naming the copy, when a run that rewrote the file at `path` (through the links at its
/// end) in place was stopped before the new bytes were whole: the file may hold some of each,
/// and its old bytes are in the copy beside it.
error::Result<void> check_no_interrupted_rewrite(const std::filesystem::path& path);

/// Makes every catchable signal whose default action ends the process (SIGINT, SIGTERM,
/// SIGHUP, SIGQUIT, SIGALRM, SIGUSR1 …, the real-time ones) remove the temporary file being
/// written, then end the process as it would have. The handlers are installed when the first
/// temporary file is made, so a run that makes none spends nothing on them. A signal that the
/// process ignores then stays ignored.
void remove_temporary_file_on_termination_signals();

/// Removes the temporary file being written, if any: for a run that ends by an exception (memory
/// that ran out) rather than by a signal, whose unwinding passed over the code that would have.
void remove_pending_temporary_file();

}  // namespace files
