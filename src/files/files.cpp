#include "files/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include <fmt/core.h>

#include "files/descriptor.h"
#include "text/text.h"

namespace files {

namespace {

std::string_view kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a directory";
  return "something else";
}

// Reads into the string itself, sized from the file, so that no large buffer sits on the stack
// (a run under a small stack limit must not crash) and a regular file costs one read. A file
// that grows while it is read is still read to its end, unless it outgrows `max_bytes`; one that
// is larger from the start is not read at all.
[[nodiscard]] error::Result<std::string> read_to_end(int fd, std::size_t expected,
                                                     std::size_t max_bytes) {
  if (expected > max_bytes) return error::fail(std::string(kTooLarge));
  std::string data;
  std::size_t size = 0;
  data.resize(expected + 1);
  for (;;) {
    if (size == data.size()) {
      if (size > max_bytes) return error::fail(std::string(kTooLarge));
      data.resize(std::min(std::max(size * 2, std::size_t{4096}), max_bytes + 1));
    }
    const ssize_t count =
        retry_on_eintr([&] { return ::read(fd, data.data() + size, data.size() - size); });
    if (count < 0) return error::fail_os(errno);
    if (count == 0) break;
    size += static_cast<std::size_t>(count);
    // A regular file comes back short only at its end: the read that would find nothing more
    // is spared. A size of 0 says nothing (files of /proc): those are read until a read is
    // empty.
    if (expected > 0 && size >= expected && size < data.size()) break;
  }
  if (size > max_bytes) return error::fail(std::string(kTooLarge));
  data.resize(size);
  return data;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opening a device can act on it (a watchdog arms, a tape rewinds, a serial line drops), so what
// stands at the path is looked at before anything is opened, and only a regular file is: a
// directory too, whose read then fails with the system's text, as it always has. Whatever the
// open meets must be the very file looked at, not one swapped in meanwhile; `info` is then what
// was opened.
[[nodiscard]] error::Result<int> open_for_reading(const char* path, struct stat& info) {
  struct stat looked_at;
  if (::stat(path, &looked_at) != 0) return error::fail_os(errno);
  const bool directory = S_ISDIR(looked_at.st_mode);
  if (!S_ISREG(looked_at.st_mode) && !directory) {
    return error::fail(not_regular_file(path, looked_at.st_mode));
  }
  // Should a FIFO be swapped in before the open, O_NONBLOCK keeps the open from waiting for a
  // writer, and a device swapped for a directory is not opened at all.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (directory ? O_DIRECTORY : 0);
  const int fd = ::open(path, flags);
  if (fd < 0) return error::fail_os(errno);
  if (::fstat(fd, &info) == 0 && same_file(info, looked_at)) return fd;
  ::close(fd);
  return error::fail(fmt::format("{} changed while it was opened", quoted(path)));
}

enum class LockAttempt { Locked, Busy, Failed };

LockAttempt try_lock(int fd) {
  if (retry_on_eintr([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
    return LockAttempt::Locked;
  }
  return errno == EWOULDBLOCK ? LockAttempt::Busy : LockAttempt::Failed;
}

// flock has no time limit of its own, and a timer signal to break off a blocking one would
// meddle with the signals the run handles. Trying again every few milliseconds costs nothing
// next to a 30-second bound, and a run that waits behind a short one starts soon after.
LockAttempt wait_for_lock(int fd, std::chrono::steady_clock::time_point deadline) {
  constexpr std::chrono::milliseconds kRetryEvery{10};
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= left.zero()) return LockAttempt::Busy;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kRetryEvery));
    if (const LockAttempt attempt = try_lock(fd); attempt != LockAttempt::Busy) return attempt;
  }
}

// Why a directory cannot be locked. Without the lock a run would write unseen by the others,
// so it stops instead. A directory that cannot even be looked at (too long a name, a loop of
// links, no search permission on the way) could take no write either: that run fails with the
// system's error, as its first write would. One that can be looked at but not opened for reading
// (writable, not readable) or locked is named, with the reason.
error::Error lock_refused(const std::filesystem::path& directory, int errnum) {
  error::Error error = error::Error::from_errno(errnum);
  if (!files::exists(directory)) return error;
  return std::move(error).context(fmt::format("directory {} cannot be locked", quoted(directory)));
}

}  // namespace

bool exists(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool is_directory(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_missing(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

error::Result<bool> has_entry(const std::filesystem::path& directory) {
  DIR* stream = ::opendir(directory.c_str());
  if (stream == nullptr) return error::fail_os(errno);
  bool found = false;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
    if (entry == nullptr) {
      found = errno != 0;
      break;
    }
    const std::string_view entry_name = entry->d_name;
    if (entry_name != "." && entry_name != "..") {
      found = true;
      break;
    }
  }
  ::closedir(stream);
  return found;
}

error::Result<std::string> read_text(const std::filesystem::path& path, std::size_t max_bytes) {
  return read_text(path.c_str(), max_bytes);
}

error::Result<std::string> read_text(const char* path, std::size_t max_bytes) {
  struct stat info;
  const error::Result<int> fd = open_for_reading(path, info);
  if (!fd) return error::pass(fd);
  const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
  error::Result<std::string> data = read_to_end(*fd, size, max_bytes);
  ::close(*fd);
  if (data && !text::is_valid_utf8(*data)) return error::fail(std::string(kInvalidUtf8));
  return data;
}

void occupy_closed_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) ::close(null_fd);
  }
}

error::Result<void> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = retry_on_eintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (written < 0) return error::fail_os(errno);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::string quoted(const std::filesystem::path& path) {
  return fmt::format("{:?}", text::lossy_utf8(path.native()));
}

error::Error not_regular_file(const std::filesystem::path& path, mode_t mode) {
  return error::Error(fmt::format("{} is {}, not a regular file", quoted(path), kind_of(mode)));
}

std::size_t longest_file_name(const std::filesystem::path& path) {
  std::filesystem::path directory = path;
  while (!directory.empty() && !files::is_directory(directory) &&
         directory.parent_path() != directory) {
    directory = directory.parent_path();
  }
  const long longest = ::pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
  return longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX;
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor lets the lock go
}

error::Result<DirectoryLock> lock_directory(
    const std::filesystem::path& path, bool required,
    void (*on_busy)(const std::filesystem::path& directory)) {
  std::filesystem::path directory = path.empty() ? "." : path;
  int fd = -1;
  while ((fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
    const int errnum = errno;
    std::filesystem::path parent = directory.parent_path();
    if (parent.empty()) parent = ".";
    if ((errnum != ENOENT && errnum != ENOTDIR) || parent == directory) {
      if (!required) return DirectoryLock();
      return error::fail(lock_refused(directory, errnum));
    }
    directory = std::move(parent);
  }
  DirectoryLock lock(fd);
  LockAttempt attempt = try_lock(fd);
  if (attempt == LockAttempt::Busy) {
    on_busy(directory);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds);
    attempt = wait_for_lock(fd, deadline);
  }
  switch (attempt) {
    case LockAttempt::Locked:
      return lock;
    case LockAttempt::Busy:
      return error::fail(fmt::format(
          "directory {} is locked by another process; gave up after {} seconds", quoted(directory),
          kLockWaitSeconds));
    case LockAttempt::Failed:
      break;
  }
  if (!required) return DirectoryLock();
  return error::fail(lock_refused(directory, errno));
}

}  // namespace files
