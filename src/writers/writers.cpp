#include "writers/writers.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <system_error>
#include <iterator>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "files/files.h"
#include "style/style.h"
#include "text/text.h"

namespace writers {

namespace {

bool is_existing_directory(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates `dir` and every missing ancestor (mode 0777 less the umask). Returns 0 or an errno.
int create_dir_all(const std::filesystem::path& dir) {
  if (dir.empty()) return 0;
  if (::mkdir(dir.c_str(), 0777) == 0) return 0;
  int errnum = errno;
  if (errnum == ENOENT) {
    const std::filesystem::path parent = dir.parent_path();
    if (parent.empty() || parent == dir) return errnum;
    if (const int parent_errnum = create_dir_all(parent); parent_errnum != 0) {
      return parent_errnum;
    }
    if (::mkdir(dir.c_str(), 0777) == 0) return 0;
    errnum = errno;
  }
  if (is_existing_directory(dir)) return 0;
  // Something other than a directory already stands where one is needed.
  return errnum == EEXIST ? ENOTDIR : errnum;
}

// Hops through symbolic links at the end of a path before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;
// Bytes of the target's name kept in its temporary name: enough to tell whose it is, short
// enough that the temporary name fits wherever the target's name does.
constexpr std::size_t kTempNameStemBytes = 64;
constexpr std::string_view kTempNameMarker = ".brintle-";
constexpr unsigned kTempNameAttempts = 100;

// Closes `fd`. Returns 0 or an errno; Linux has released the descriptor even after EINTR.
int close_checked(int fd) { return ::close(fd) != 0 && errno != EINTR ? errno : 0; }

// The path a write through `path` lands on: symbolic links standing at the end of the path
// are followed, so the link itself stays and its final target, existing or not, is written.
// Returns 0 or an errno.
int follow_links(const std::filesystem::path& path, std::filesystem::path& target) {
  std::filesystem::path current = path;
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    struct stat info;
    // Anything that is not a link (or cannot be looked at) is written as named; the write
    // itself then meets whatever the system has to say about it.
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      target = std::move(current);
      return 0;
    }
    std::error_code error;
    std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) return error.value();
    // A relative link is relative to the directory that holds it.
    current = next.is_absolute() ? std::move(next) : current.parent_path() / next;
  }
  return ELOOP;
}

// Six name characters that differ from call to call and from process to process.
std::string temp_suffix(unsigned attempt) {
  static constexpr std::string_view kAlphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  // splitmix64 over the process id, the clock and the attempt; uniqueness is what matters
  // here, O_EXCL takes care of any collision.
  std::uint64_t x = (static_cast<std::uint64_t>(::getpid()) << 32) ^
                    static_cast<std::uint64_t>(now.tv_nsec) ^
                    (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
                    (attempt * 0x9e3779b97f4a7c15u);
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  x ^= x >> 31;
  std::string suffix;
  for (int i = 0; i < 6; ++i, x /= kAlphabet.size()) suffix += kAlphabet[x % kAlphabet.size()];
  return suffix;
}

// The start of the name's first `bytes` bytes, not cut inside a UTF-8 sequence.
std::string_view name_stem(std::string_view name, std::size_t bytes) {
  if (name.size() <= bytes) return name;
  while (bytes > 0 && (static_cast<unsigned char>(name[bytes]) & 0xC0) == 0x80) --bytes;
  return name.substr(0, bytes);
}

// A new, empty hidden file beside `target`, named ".<name>.brintle-XXXXXX" and opened for
// writing. Created with `mode` through open() rather than mkstemp(), so that the umask and a
// directory's default ACL apply to a new file exactly as they would to the target itself.
// Returns the descriptor, or -1 with errno set.
int create_temp_beside(const std::filesystem::path& target, mode_t mode,
                       std::filesystem::path& temp) {
  const std::string stem(name_stem(target.filename().native(), kTempNameStemBytes));
  for (unsigned attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    temp = target.parent_path() /
           fmt::format(".{}{}{}", stem, kTempNameMarker, temp_suffix(attempt));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Gives the replacement the owner, group and permission bits of the file it replaces. The
// owner can only be kept by a privileged process; elsewhere the file becomes the writer's,
// as with any editor that saves by renaming. Set-id bits are not carried over: a write in
// place clears them as well.
int take_over_attributes(int fd, const struct stat& replaced) {
  if (::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
    // Keep at least the group, if this process is allowed to choose it.
    (void)!::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid);
  }
  return ::fchmod(fd, replaced.st_mode & 0777) != 0 ? errno : 0;
}

// Fills the temporary file and, when it is to replace a file, makes it durable first. Returns
// 0 or an errno; the descriptor is closed either way.
//
// fsync before replacing: without it a power cut shortly after the rename can leave the name
// pointing at blocks never written (an empty main.py where the user's code was), and some file
// systems report a failed delayed write only there. A new file has nothing to lose, and
// syncing every file of a new project would make each run wait on the disk dozens of times.
int fill_and_close(int fd, std::string_view data, const struct stat* replaced) {
  int errnum = replaced != nullptr ? take_over_attributes(fd, *replaced) : 0;
  if (errnum == 0) errnum = files::write_all(fd, data);
  if (errnum == 0 && replaced != nullptr && ::fsync(fd) != 0 && errno != EINVAL) errnum = errno;
  const int close_errnum = close_checked(fd);
  return errnum != 0 ? errnum : close_errnum;
}

// Writes `data` into an existing file that is not a regular file (a device, a pipe), where
// there is nothing to preserve and replacing the node itself would be wrong. Returns 0 or an
// errno.
int write_in_place(const std::filesystem::path& path, std::string_view data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  return fill_and_close(fd, data, /*replaced=*/nullptr);
}

// Makes `data` the whole content of `path`, all or nothing: the bytes go to a temporary file
// in the target's directory, which is renamed over the target only once complete. Whatever
// fails, the old file keeps its bytes and no temporary file is left. Returns 0 or an errno.
int replace_whole_file(const std::filesystem::path& path, std::string_view data) {
  std::filesystem::path target;
  if (const int errnum = follow_links(path, target); errnum != 0) return errnum;

  struct stat existing;
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return EISDIR;
  if (exists && !S_ISREG(existing.st_mode)) return write_in_place(target, data);
  if (exists) {
    // A file the user may not write stays refused, as a write in place would be refused;
    // renaming over it would slip past its permissions.
    const int probe = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (probe < 0) return errno;
    ::close(probe);
  }

  std::filesystem::path temp;
  const int fd = create_temp_beside(target, exists ? 0600 : 0666, temp);
  if (fd < 0) return errno;
  int errnum = fill_and_close(fd, data, exists ? &existing : nullptr);
  if (errnum == 0 && ::rename(temp.c_str(), target.c_str()) != 0) errnum = errno;
  if (errnum != 0) ::unlink(temp.c_str());
  return errnum;
}

std::string with_final_line_feed(std::string_view content) {
  std::string data(content);
  if (data.empty() || data.back() != '\n') data += '\n';
  return data;
}

std::string status_label(WriteStatus status) {
  switch (status) {
    case WriteStatus::Created:
      return style::Green{"[created]"}.str();
    case WriteStatus::Skipped:
      return style::Yellow{"[skipped]"}.str();
    default:
      return style::Cyan{"[dry-run]"}.str();
  }
}

}  // namespace

Result<GeneratedFile> write_file(const std::filesystem::path& path, std::string_view content,
                                 bool force, bool dry_run) {
  if (dry_run) return GeneratedFile{path, std::string(content), WriteStatus::DryRun};
  // Parents are made before the existence test, so even a skipped file has its directory.
  if (const int errnum = create_dir_all(path.parent_path()); errnum != 0) {
    return fail(Error::from_errno(errnum));
  }
  if (files::exists(path) && !force) {
    return GeneratedFile{path, std::string(content), WriteStatus::Skipped};
  }
  std::string data = with_final_line_feed(content);
  if (const int errnum = replace_whole_file(path, data); errnum != 0) {
    return fail(Error::from_errno(errnum));
  }
  return GeneratedFile{path, std::move(data), WriteStatus::Created};
}

std::vector<std::string> report(std::span<const GeneratedFile> files, bool dry_run) {
  const std::string prefix = dry_run ? style::Yellow{"[dry-run]"}.str() + " " : std::string();
  std::vector<std::string> lines;
  lines.reserve(files.size());
  for (const GeneratedFile& file : files) {
    // A source directory from the project's configuration may hold control characters.
    lines.push_back(fmt::format("{}{} {}", prefix, status_label(file.status),
                                style::escape_controls(text::lossy_utf8(file.path.native()))));
  }
  return lines;
}

Result<void> append(std::vector<GeneratedFile>& files, Result<std::vector<GeneratedFile>> step) {
  if (!step) return fail(std::move(step.error()));
  files.insert(files.end(), std::make_move_iterator(step->begin()),
               std::make_move_iterator(step->end()));
  return {};
}

Result<void> append(std::vector<GeneratedFile>& files, Result<GeneratedFile> step) {
  if (!step) return fail(std::move(step.error()));
  files.push_back(std::move(*step));
  return {};
}

}  // namespace writers
