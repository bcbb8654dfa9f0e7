#pragma once

#include <sys/types.h>

#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "error/error.h"

// The file-system queries that the generators share. Errors carry the system's text only,
// except where a path holds something other than the regular file that is needed, or a
// directory stays locked. Writing to an open descriptor is in files/descriptor.h.
namespace files {

/// No bound on the size of a file that is read.
inline constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max() - 1;

/// The message of a read that stopped at its bound.
inline constexpr std::string_view kTooLarge = "file is too large";

/// Whether something stands at the path: a metadata query succeeds, following symbolic links.
/// Any failure (missing, no permission, a dangling link) counts as "does not exist".
bool exists(const std::filesystem::path& path);

/// Whether a directory stands at the path, following symbolic links.
bool is_directory(const std::filesystem::path& path);

/// Whether the path surely names nothing: the query finds no such entry, or a component on
/// the way is no directory. A query refused for another reason (no permission) leaves it open
/// what stands there, so it does not count.
bool is_missing(const std::filesystem::path& path);

/// Whether the directory holds any entry ("." and ".." are none; an entry that cannot be read
/// is one). Fails with the system's error when it cannot be listed.
[[nodiscard]] error::Result<bool> has_entry(const std::filesystem::path& directory);

/// The whole regular file as UTF-8 text. Fails with the system's error, with "stream did not
/// contain valid UTF-8" when the bytes are not UTF-8, or with not_regular_file for a FIFO, a
/// device or a socket, which are never opened; and when the file that the open meets is not
/// the one looked at before it. A file of more than `max_bytes` fails with kTooLarge before it
/// is read whole.
[[nodiscard]] error::Result<std::string> read_text(const std::filesystem::path& path,
                                                   std::size_t max_bytes = kUnlimited);
/// The same for a path given as a C string, which spares a caller that reads many files a
/// path object for each.
[[nodiscard]] error::Result<std::string> read_text(const char* path,
                                                   std::size_t max_bytes = kUnlimited);

/// A path as error lines name it: in double quotes, escaped, bytes that are not UTF-8 as U+FFFD.
std::string quoted(const std::filesystem::path& path);

/// The error for a path where a regular file is needed and `mode` says something else stands.
error::Error not_regular_file(const std::filesystem::path& path, mode_t mode);

/// The longest file name, in bytes, that the file system of the nearest directory existing at
/// or above `path` allows; NAME_MAX when it cannot be asked.
std::size_t longest_file_name(const std::filesystem::path& path);

/// The message of a read whose bytes are not UTF-8.
inline constexpr std::string_view kInvalidUtf8 = "stream did not contain valid UTF-8";

/// An exclusive lock on a directory, held until the lock is destroyed, so that runs editing
/// the same project take turns. It lives on the directory's own descriptor: a lock file would
/// be left in the user's project, and a lock on a file that is replaced by renaming guards
/// nothing once the rename is done.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  explicit DirectoryLock(int fd) : fd_(fd) {}
  DirectoryLock(DirectoryLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  DirectoryLock& operator=(DirectoryLock&&) = delete;
  ~DirectoryLock();

 private:
  int fd_ = -1;
};

/// How long a run waits for a directory that another process holds locked before it gives up.
inline constexpr int kLockWaitSeconds = 30;

/// Locks the directory at `path`, or where nothing stands there yet the nearest directory that
/// exists above it. When another process holds the lock, `on_busy` is told that directory once
/// and the wait lasts at most kLockWaitSeconds; then it fails with an error naming the
/// directory. A directory that cannot be opened for reading (writable only, say) or locked
/// fails too when the lock is `required`, named with the system's reason (one that cannot even
/// be looked at, with the system's error alone); otherwise the run goes on without the lock.
[[nodiscard]] error::Result<DirectoryLock> lock_directory(
    const std::filesystem::path& path, bool required,
    void (*on_busy)(const std::filesystem::path& directory));

}  // namespace files
