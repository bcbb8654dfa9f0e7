#pragma once

#include <filesystem>
#include <string_view>

#include "error/error.h"
#include "files/resolve.h"

// Writing a file's whole content, in a folder reached from the project root's handle, so that
// no reader, interrupt or failure sees half of it.
namespace files {

/// Gives `data` the name of `target`, where nothing stood when it was looked at: the file is
/// written unnamed and named once it is whole, or, where the file system has no unnamed files,
/// under a temporary name that is renamed to it without replacing anything. False, with nothing
/// written, when something has taken the name meanwhile. Fails with the target's refusal when
/// it lies outside the project.
[[nodiscard]] error::Result<bool> create_file(const WriteTarget& target, std::string_view data);

/// Makes `data` the whole content of the regular file at `target`. The new text is written
/// unnamed (where the file system takes no unnamed file, under a temporary name beside it),
/// synced, given the replaced file's permission bits and extended attributes, and only then
/// named and renamed over it; a kill between those two steps leaves the whole new text under
/// the fixed name ".<name>.brintle-new", which the next replacement of the file clears. A file
/// with other names (hard links), or one that cannot be renamed over, is rewritten in place
/// instead, and only where its old bytes can be read: until the new bytes are whole and synced,
/// a synced copy of the old ones stays beside it (where its folder takes one), and when the
/// rewrite fails they are put back. A directory, a FIFO, a device or a socket is refused
/// without waiting on it, as is a target outside the project and a file whose copy an earlier
/// run left (check_no_interrupted_rewrite). Whatever fails, the old file keeps its bytes and no
/// temporary file is left.
[[nodiscard]] error::Result<void> replace_file(const WriteTarget& target, std::string_view data);

/// Fails, naming the copy, when a run that rewrote the file at `path` (through the links at its
/// end) in place was stopped before the new bytes were whole: the file may hold some of each,
/// and its old bytes are in the copy beside it.
[[nodiscard]] error::Result<void> check_no_interrupted_rewrite(ProjectRoot& project,
                                                               const std::filesystem::path& path);

}  // namespace files
