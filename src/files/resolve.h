#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "error/error.h"

// Reaching the folders and files of a project from one handle on its root. A path checked
// once and walked again later can lead somewhere else by then (a folder swapped for a symbolic
// link meanwhile); a folder opened from the root's handle, one name at a time, stays the
// folder that was checked.
namespace files {

/// Creates `dir` and every missing ancestor by path (mode 0777 less the umask); a directory
/// that is already there is no error. For what lies above a project, which is the user's.
[[nodiscard]] error::Result<void> create_dir_all(const std::filesystem::path& dir);

/// Where a write to a path lands: a name in a folder reached from the project root's handle.
struct WriteTarget {
  int folder = -1;                  ///< the folder's descriptor, kept open by the ProjectRoot;
                                    ///< -1 when a folder on the way is missing or outside
  std::string name;                 ///< the name in that folder
  std::filesystem::path path;       ///< the path once the links at its end are followed
                                    ///< (relative ones from the folder that holds them), as
                                    ///< messages name the file
  std::optional<struct stat> info;  ///< what stands there; none when nothing does, or nothing
                                    ///< can be looked at (the write then meets the system's error)
  std::optional<error::Error> outside;  ///< when links lead the path outside the project: the
                                        ///< refusal a write meets (info then says what stands
                                        ///< there, looked at by path and never opened)
};

/// The project directory of one command's run, opened once: every folder and file that the run
/// writes is reached from this handle, one name at a time (by openat2 beneath it where the
/// kernel has it, else component by component without following links), and never by walking
/// its path again. Symbolic links that stay inside the project are followed; one that leads
/// outside is refused, naming the path and where it leads. The project itself may be reached
/// through a link. Each folder is opened once a run.
class ProjectRoot {
 public:
  /// Opens nothing yet: a dry run never looks at the disk through it.
  explicit ProjectRoot(std::filesystem::path root);
  ~ProjectRoot();
  ProjectRoot(const ProjectRoot&) = delete;
  ProjectRoot& operator=(const ProjectRoot&) = delete;

  /// The project directory as the command joined it.
  const std::filesystem::path& path() const { return root_; }

  /// Where a write to `path` (joined from path()) lands, following the links at its end. Makes
  /// the folder that holds it and every missing one above it (the root and what leads to it by
  /// path). Fails with the system's error, or, naming the folder, when a folder on the way
  /// leads outside the project.
  [[nodiscard]] error::Result<WriteTarget> locate(const std::filesystem::path& path);

  /// The same without making anything: folder -1 where a folder on the way is missing, and
  /// `outside` naming `path` where a folder on the way leads outside the project.
  [[nodiscard]] error::Result<WriteTarget> look_up(const std::filesystem::path& path);

  /// Fails, naming `path` and where it leads, when it leads outside the project. A path that
  /// cannot be followed is left to the write that meets it, and a FIFO, a device or a
  /// directory is refused as such wherever it is.
  [[nodiscard]] error::Result<void> check_inside(const std::filesystem::path& path);

 private:
  struct Folder {
    int fd = -1;
    bool made = false;  // made by this run: nothing stood in it a moment ago
  };
  // A folder walked to: open (fd), missing (-1, no refusal) or outside the project.
  struct Reached {
    int fd = -1;
    bool made = false;
    std::optional<error::Error> outside;
  };

  [[nodiscard]] error::Result<WriteTarget> find(const std::filesystem::path& path, bool make);
  [[nodiscard]] error::Result<int> root_handle(bool make);
  [[nodiscard]] error::Result<Reached> folder(std::span<const std::string> names, bool make);
  [[nodiscard]] error::Result<Reached> step(int parent, std::span<const std::string> names,
                                            bool make, bool missing);
  [[nodiscard]] error::Result<Reached> through_link(int parent, std::span<const std::string> names);
  [[nodiscard]] error::Result<std::optional<std::vector<std::string>>> link_beneath(
      int parent, std::filesystem::path target, const std::filesystem::path& level,
      std::filesystem::path& leads_to);
  [[nodiscard]] error::Result<std::string> root_real_path();
  [[nodiscard]] error::Result<void> follow_end(WriteTarget& target,
                                               const std::filesystem::path& path);
  Reached keep(std::span<const std::string> names, int fd, bool made);

  std::filesystem::path root_;
  int root_fd_ = -1;
  std::optional<std::string> root_real_;  // absolute, links resolved; found at the first link
  std::map<std::string, Folder, std::less<>> folders_;  // by the names below the root
  std::vector<int> handles_;                            // each open descriptor once
  int link_hops_ = 0;  // links followed for the path being found, as the kernel counts them
  bool beneath_call_ = true;  // whether openat2 is there to be asked
};

}  // namespace files
