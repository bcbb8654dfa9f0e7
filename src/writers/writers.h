#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"

namespace files {
class ProjectRoot;
}

namespace writers {

/// The outcome of writing one file.
enum class WriteStatus : std::uint8_t {
  Created = 0,  ///< written (also when an existing file was overwritten)
  Skipped = 1,  ///< left untouched
  DryRun = 2,   ///< not written because the run is a dry run
};

/// One file produced, or offered, by a run.
struct GeneratedFile {
  std::filesystem::path path;  ///< the target path exactly as the generator joined it
  std::string content;         ///< the bytes written, or the text offered (Skipped, DryRun)
  WriteStatus status;

  bool operator==(const GeneratedFile&) const = default;
};

/// Writes `content` to `path` (joined from the project's path) unless the run is dry or the file
/// exists and `force` is off. Creates missing parent directories; adds a final line feed when
/// the content lacks one. Every folder and file is reached from the project's root handle, so
/// that a directory written into, or a file written, that leads outside the project is refused,
/// however the folders change meanwhile. A new file is named only where the name is still free:
/// one that appears meanwhile counts as found existing. A file is replaced whole or not at all,
/// through a link to its final target, keeping its permission bits (files::replace_file).
/// Errors carry the system's text, never the path, except the refusals of a path that leads
/// outside the project, of a FIFO, device or socket, and of a file that cannot be rewritten
/// safely, which name it.
[[nodiscard]] error::Result<GeneratedFile> write_file(files::ProjectRoot& project,
                                                      const std::filesystem::path& path,
                                                      std::string_view content, bool force,
                                                      bool dry_run);

/// Appends the records of one generator step to those of the run, or hands its error on.
[[nodiscard]] error::Result<void> append(std::vector<GeneratedFile>& files,
                                         error::Result<std::vector<GeneratedFile>> step);
[[nodiscard]] error::Result<void> append(std::vector<GeneratedFile>& files,
                                         error::Result<GeneratedFile> step);

/// Runs the generator steps in turn, appending the records of each, and stops at the first that
/// fails (whose error it hands on): what the steps before it wrote stays written.
template <typename... Steps>
[[nodiscard]] error::Result<void> append_in_turn(std::vector<GeneratedFile>& files,
                                                 Steps&&... steps) {
  error::Result<void> done;
  (void)(static_cast<bool>(done = append(files, steps())) && ...);
  return done;
}

/// The run report, one line per record for the command to print: "[created] path",
/// "[skipped] path", "[dry-run] path", each label in its colour, with a yellow "[dry-run] "
/// prefix in a dry run. Paths show invalid UTF-8 as U+FFFD and control characters escaped.
std::vector<std::string> report(std::span<const GeneratedFile> files, bool dry_run);

}  // namespace writers
