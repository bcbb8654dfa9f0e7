#include "files/replace.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>

#include <fmt/core.h>

#include "files/cleanup.h"
#include "files/descriptor.h"
#include "files/files.h"

namespace files {

namespace {

namespace fs = std::filesystem;

// Bytes of the target's name kept in the names made beside it: enough to tell whose they are,
// short enough that they fit wherever the target's name does.
constexpr std::size_t kTempNameStemBytes = 64;
constexpr std::string_view kTempNameMarker = ".brintle-";
constexpr unsigned kTempNameAttempts = 100;
// Ends the name of the copy that keeps a file's old bytes while it is rewritten in place.
constexpr std::string_view kOldBytesCopySuffix = ".brintle-old";
// Ends the name a whole replacement has for the instant before it is renamed over the file.
constexpr std::string_view kNewBytesSuffix = ".brintle-new";
constexpr int kUnnamedFlags = O_TMPFILE | O_WRONLY | O_CLOEXEC | O_NOCTTY;

// A temporary file beside its target, open for writing and known to the signal handler.
struct TempFile {
  int fd = -1;
  int folder = -1;
  std::string name;
};

// The file as it stands before it is replaced: open, and what fstat said of it.
struct Existing {
  int fd = -1;
  bool readable = false;
  struct stat info {};
};

// Closes `fd`; Linux has released the descriptor even after EINTR.
[[nodiscard]] error::Result<void> close_checked(int fd) {
  if (::close(fd) != 0 && errno != EINTR) return error::fail_os(errno);
  return {};
}

// Six name characters that differ from call to call and from process to process.
std::string temp_suffix(unsigned attempt) {
  static constexpr std::string_view kAlphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // The process never forks, so its id is asked once.
  static const auto process_id = static_cast<std::uint64_t>(::getpid());
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  // splitmix64 over the process id, the clock and the attempt; uniqueness is what matters
  // here, O_EXCL takes care of any collision.
  std::uint64_t x = (process_id << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
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

// Where the old bytes of a file rewritten in place are kept meanwhile: a fixed name, so that a
// later run finds them, and a visible one, so that the user does too.
std::string old_bytes_copy(std::string_view name) {
  return fmt::format("{}{}", name_stem(name, kTempNameStemBytes), kOldBytesCopySuffix);
}

// The copy as messages name it: beside the file as its path shows it.
fs::path shown_beside(const WriteTarget& target, const std::string& name) {
  return target.path.parent_path() / name;
}

[[nodiscard]] error::Result<void> check_no_copy_beside(const WriteTarget& target) {
  const std::string copy = old_bytes_copy(target.name);
  struct stat info;
  if (::fstatat(target.folder, copy.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return {};
  return error::fail(fmt::format(
      "a run was stopped while it rewrote {}; its old bytes are kept in {}: put the right text "
      "in the file, then remove the copy",
      quoted(target.path), quoted(shown_beside(target, copy))));
}

// A new, empty hidden file beside `name` in `folder`, named ".<name>.brintle-XXXXXX" and opened
// for writing. Created with `mode` through openat() rather than mkstemp(), so that the umask and
// a folder's default ACL apply to a new file exactly as they would to the target itself.
[[nodiscard]] error::Result<TempFile> create_temp_beside(int folder, std::string_view name,
                                                         mode_t mode) {
  install_cleanup_handlers_if_enabled();
  const std::string stem(name_stem(name, kTempNameStemBytes));
  for (unsigned attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    TempFile temp{-1, folder, fmt::format(".{}{}{}", stem, kTempNameMarker, temp_suffix(attempt))};
    const TerminationSignalsHeld held;
    temp.fd = ::openat(folder, temp.name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (temp.fd >= 0) {
      mark_pending_temporary_file(folder, temp.name);
      return temp;
    }
    if (errno != EEXIST) return error::fail_os(errno);
  }
  return error::fail_os(EEXIST);
}

void discard(const TempFile& temp) {
  const TerminationSignalsHeld held;
  ::unlinkat(temp.folder, temp.name.c_str(), 0);
  mark_pending_temporary_file(-1, "");
}

// Renames the temporary file to `name`, over a file there or, for a new file, only where
// nothing is; 0, or the errno of the rename, after which the temporary file is gone.
int rename_into_place(const TempFile& temp, const std::string& name, bool over) {
  const TerminationSignalsHeld held;
  const char* from = temp.name.c_str();
  int renamed = ::renameat2(temp.folder, from, temp.folder, name.c_str(),
                            over ? 0 : RENAME_NOREPLACE);
  // A file system that cannot promise not to replace a file renames as it can.
  if (renamed != 0 && !over && errno == EINVAL) {
    renamed = ::renameat(temp.folder, from, temp.folder, name.c_str());
  }
  const int errnum = renamed == 0 ? 0 : errno;
  if (renamed != 0) ::unlinkat(temp.folder, from, 0);
  mark_pending_temporary_file(-1, "");
  return errnum;
}

// Gives the unnamed file open at `fd` the name `name` in `folder`; EEXIST when it is taken.
bool link_unnamed(int fd, int folder, const std::string& name) {
  const std::string unnamed = fmt::format("/proc/self/fd/{}", fd);
  return ::linkat(AT_FDCWD, unnamed.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Gives the replacement the owner, group and permission bits of the file it replaces. The
// owner can only be kept by a privileged process; elsewhere the file becomes the writer's,
// as with any editor that saves by renaming. Set-id bits are not carried over: a write in
// place clears them as well.
[[nodiscard]] error::Result<void> take_over_attributes(int fd, const struct stat& replaced) {
  if (::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
    // Keep at least the group, if this process is allowed to choose it.
    (void)!::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid);
  }
  if (::fchmod(fd, replaced.st_mode & 0777) != 0) return error::fail_os(errno);
  return {};
}

// The value of one extended attribute.
[[nodiscard]] error::Result<std::string> attribute_value(int fd, const char* name) {
  const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
  if (size < 0) return error::fail_os(errno);
  std::string value(static_cast<std::size_t>(size), '\0');
  // ERANGE when the value grew in between: the copy is then refused rather than cut short.
  const ssize_t length = ::fgetxattr(fd, name, value.data(), value.size());
  if (length < 0) return error::fail_os(errno);
  value.resize(static_cast<std::size_t>(length));
  return value;
}

// Copies every extended attribute (access control lists, security labels, what other tools
// stored) of the replaced file. Copied after the permission bits, since an access control list
// decides some of them. A file system without extended attributes has none to copy.
[[nodiscard]] error::Result<void> copy_extended_attributes(int from, int to) {
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size < 0) return errno == ENOTSUP ? error::Result<void>() : error::fail_os(errno);
  std::string names(static_cast<std::size_t>(size), '\0');
  if (size > 0 && (size = ::flistxattr(from, names.data(), names.size())) < 0) {
    return error::fail_os(errno);
  }
  names.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    error::Result<std::string> value = attribute_value(from, name);
    if (!value) return error::pass(value);
    if (::fsetxattr(to, name, value->data(), value->size(), 0) != 0) return error::fail_os(errno);
  }
  return {};
}

// Fills a file not yet named with `data`; `like`, when given, is a file whose owner,
// permission bits and extended attributes it takes, and whose bytes it may replace, and then
// the data is made durable before the file is named.
//
// fsync before naming: without it a power cut shortly after the rename can leave the name
// pointing at blocks never written (an empty main.py where the user's code was), and some file
// systems report a failed delayed write only there. A new file has nothing to lose, and
// syncing every file of a new project would make each run wait on the disk dozens of times.
[[nodiscard]] error::Result<void> fill(int fd, std::string_view data, const Existing* like) {
  error::Result<void> filled;
  if (like != nullptr) {
    filled = take_over_attributes(fd, like->info);
    if (filled) filled = copy_extended_attributes(like->fd, fd);
  }
  if (filled) filled = write_all(fd, data);
  if (filled && like != nullptr && ::fsync(fd) != 0 && errno != EINVAL) {
    filled = error::fail_os(errno);
  }
  return filled;
}

// How a whole file gets its name: as a new file, only where the name is free, or over the file
// that has it.
enum class Naming { New, Over };

// Writes `data` under a temporary name beside `name`, then renames it to `name`; false when a
// new file finds the name taken meanwhile.
[[nodiscard]] error::Result<bool> write_through_temp(int folder, const std::string& name,
                                                     std::string_view data, const Existing* like,
                                                     Naming naming) {
  error::Result<TempFile> temp = create_temp_beside(folder, name, like != nullptr ? 0600 : 0666);
  if (!temp) return error::pass(temp);
  error::Result<void> filled = fill(temp->fd, data, like);
  error::Result<void> closed = close_checked(temp->fd);
  if (filled) filled = std::move(closed);
  if (!filled) {
    discard(*temp);
    return error::pass(filled);
  }
  const int errnum = rename_into_place(*temp, name, naming == Naming::Over);
  if (errnum == EEXIST && naming == Naming::New) return false;
  if (errnum != 0) return error::fail_os(errnum);
  return true;
}

// Names the unnamed file open at `fd` `name`: true, or false when the name is taken; none when
// an unnamed file cannot be named here at all (no /proc).
std::optional<error::Result<bool>> name_new(int fd, int folder, const std::string& name) {
  if (link_unnamed(fd, folder, name)) return true;
  if (errno == EEXIST) return false;
  return std::nullopt;
}

// Names the whole, synced replacement open at `fd` ".<name>.brintle-new", a leftover of an
// earlier run under that name cleared first, then renames it over `name`. Between the two
// steps that name is the temporary file that a termination signal removes; only a kill can
// leave it, and the next replacement of the file clears it. None when an unnamed file cannot be
// named here at all.
std::optional<error::Result<bool>> name_over(int fd, int folder, const std::string& name) {
  const std::string naming =
      fmt::format(".{}{}", name_stem(name, kTempNameStemBytes), kNewBytesSuffix);
  install_cleanup_handlers_if_enabled();
  {
    const TerminationSignalsHeld held;
    bool named = link_unnamed(fd, folder, naming);
    if (!named && errno == EEXIST && ::unlinkat(folder, naming.c_str(), 0) == 0) {
      named = link_unnamed(fd, folder, naming);
    }
    if (!named) return std::nullopt;
    mark_pending_temporary_file(folder, naming);
  }
  if (const int errnum = rename_into_place(TempFile{-1, folder, naming}, name, /*over=*/true)) {
    return error::fail_os(errnum);
  }
  return true;
}

// Writes `data` into a file that has no name yet and names it `name` once it is whole, so that
// no reader sees half of it and nothing is left behind, whatever ends the process. Where the
// file system has no unnamed files (or /proc is not there to name one), through a temporary
// file. `like`, when given, is the file whose owner, permission bits and attributes it takes
// (see fill). False when a new file finds the name taken meanwhile: the file that took it
// stays as it is.
[[nodiscard]] error::Result<bool> write_whole(int folder, const std::string& name,
                                              std::string_view data, const Existing* like,
                                              Naming naming) {
  const int fd = ::openat(folder, ".", kUnnamedFlags, like != nullptr ? 0600 : 0666);
  if (fd < 0) return write_through_temp(folder, name, data, like, naming);
  error::Result<void> filled = fill(fd, data, like);
  std::optional<error::Result<bool>> named;
  if (filled) {
    named = naming == Naming::New ? name_new(fd, folder, name) : name_over(fd, folder, name);
  }
  error::Result<void> closed = close_checked(fd);
  if (!filled) return error::pass(filled);
  if (!named) return write_through_temp(folder, name, data, like, naming);
  if (*named && **named && !closed) return error::pass(closed);
  return *named;
}

// Whether a failure of the rename road leaves writing in place as the way: the folder may
// not be written, the file is a mount point or on another device, or an attribute of the old
// file cannot be given to a new one.
bool calls_for_writing_in_place(int errnum) {
  return errnum == EACCES || errnum == EPERM || errnum == EBUSY || errnum == EXDEV ||
         errnum == ENOTSUP;
}

[[nodiscard]] error::Result<void> pwrite_all(int fd, std::string_view bytes) {
  for (off_t at = 0; !bytes.empty();) {
    const ssize_t written =
        retry_on_eintr([&] { return ::pwrite(fd, bytes.data(), bytes.size(), at); });
    if (written < 0) return error::fail_os(errno);
    bytes.remove_prefix(static_cast<std::size_t>(written));
    at += written;
  }
  return {};
}

// The file's bytes, up to the size fstat gave.
[[nodiscard]] error::Result<std::string> read_start(int fd, off_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t count = retry_on_eintr([&] {
      return ::pread(fd, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
    });
    if (count < 0) return error::fail_os(errno);
    if (count == 0) return bytes.substr(0, at);
    at += static_cast<std::size_t>(count);
  }
  return bytes;
}

error::Error cannot_keep_old_bytes(const WriteTarget& target, error::Error cause) {
  return std::move(cause).context(fmt::format(
      "cannot keep the old bytes of {} while it is rewritten in place", quoted(target.path)));
}

// The bytes to put back should the rewrite fail. A file that may only be written has none to
// give, and is left alone.
[[nodiscard]] error::Result<std::string> old_bytes(const Existing& file,
                                                   const WriteTarget& target) {
  if (!file.readable && file.info.st_size > 0) {
    return error::fail(cannot_keep_old_bytes(target, error::Error::from_errno(EACCES)));
  }
  error::Result<std::string> bytes = read_start(file.fd, file.readable ? file.info.st_size : 0);
  if (!bytes) return error::fail(cannot_keep_old_bytes(target, std::move(bytes).error()));
  return bytes;
}

// Makes the entries made so far in the folder outlast a power cut. Best effort: the copy itself
// is synced, and a system that cannot sync a folder keeps its entries anyway.
void sync_folder(int folder) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

// Keeps a synced copy of the old bytes beside the file, with its owner, permission bits and
// extended attributes, until its new text is whole and synced: a kill at any instant (SIGKILL,
// the OOM killer, a power cut) then leaves the old bytes whole in one of the two, and a later
// run names the copy. Where the folder takes no such file, the old bytes are kept in memory
// only, which puts them back after a failed write but not after a kill. The copy's name.
[[nodiscard]] error::Result<std::optional<std::string>> keep_copy_beside(const Existing& file,
                                                                         const WriteTarget& target,
                                                                         std::string_view bytes) {
  std::string copy = old_bytes_copy(target.name);
  error::Result<bool> kept = write_whole(target.folder, copy, bytes, &file, Naming::New);
  if (kept && !*kept) kept = error::fail_os(EEXIST);  // a copy made since it was looked for
  if (!kept) {
    if (calls_for_writing_in_place(kept.error().os_error())) return std::nullopt;
    return error::fail(cannot_keep_old_bytes(target, std::move(kept).error()));
  }
  sync_folder(target.folder);
  return copy;
}

// Writes `data` over the file's own bytes and makes them durable. Room for a longer text is
// reserved first without moving the end of the file, so that a full disk fails before the
// first byte changes and nothing ever sees the file grown with zeros.
[[nodiscard]] error::Result<void> write_over(int fd, std::string_view data, off_t old_size) {
  const auto new_size = static_cast<off_t>(data.size());
  if (new_size > old_size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, new_size) != 0 &&
      errno != EOPNOTSUPP) {
    return error::fail_os(errno);
  }
  error::Result<void> written = pwrite_all(fd, data);
  if (written && ::ftruncate(fd, new_size) != 0) written = error::fail_os(errno);
  if (written && ::fsync(fd) != 0 && errno != EINVAL) written = error::fail_os(errno);
  return written;
}

// Writes `data` over the file's own bytes, for a file that must stay the same file: other names
// share it, or it cannot be renamed over. Interrupts wait until the file is whole again.
[[nodiscard]] error::Result<void> overwrite_in_place(const Existing& file,
                                                     const WriteTarget& target,
                                                     std::string_view data) {
  const TerminationSignalsHeld held;
  error::Result<std::string> old = old_bytes(file, target);
  if (!old) return error::pass(old);
  error::Result<std::optional<std::string>> copy = keep_copy_beside(file, target, *old);
  if (!copy) return error::pass(copy);
  error::Result<void> written = write_over(file.fd, data, file.info.st_size);
  if (!written) {
    if (!write_over(file.fd, *old, file.info.st_size) && *copy) {
      return error::fail(std::move(written).error().context(
          fmt::format("{} is left half rewritten; its old bytes are kept in {}",
                      quoted(target.path), quoted(shown_beside(target, **copy)))));
    }
  }
  if (*copy) ::unlinkat(target.folder, (*copy)->c_str(), 0);
  return written;
}

// Opens the file to be replaced. This is also the permission test: a file the user may not
// write stays refused, as a write in place would be; renaming over it would slip past its
// permissions. Read access, where there is some, lets a failed write in place be undone.
[[nodiscard]] error::Result<Existing> open_existing(const WriteTarget& target) {
  // A link put there since it was looked at is not followed (ELOOP).
  constexpr int kFlags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;
  Existing file;
  file.fd = ::openat(target.folder, target.name.c_str(), O_RDWR | kFlags);
  file.readable = file.fd >= 0;
  if (file.fd < 0 && errno == EACCES) {
    file.fd = ::openat(target.folder, target.name.c_str(), O_WRONLY | kFlags);
  }
  if (file.fd < 0) return error::fail_os(errno);
  if (::fstat(file.fd, &file.info) != 0) {
    error::Error error = error::Error::from_errno(errno);
    ::close(file.fd);
    return error::fail(std::move(error));
  }
  // Something else may have been put there since the name was looked at.
  if (!S_ISREG(file.info.st_mode)) {
    ::close(file.fd);
    return error::fail(not_regular_file(target.path, file.info.st_mode));
  }
  return file;
}

[[nodiscard]] error::Result<void> replace_existing(const WriteTarget& target,
                                                   std::string_view data) {
  error::Result<Existing> file = open_existing(target);
  if (!file) return error::pass(file);
  error::Result<void> replaced;
  if (file->info.st_nlink > 1) {
    // Renaming would part this name from the others, which would keep the old text.
    replaced = overwrite_in_place(*file, target, data);
  } else {
    const error::Result<bool> renamed =
        write_whole(target.folder, target.name, data, &*file, Naming::Over);
    if (!renamed) replaced = error::pass(renamed);
    if (!replaced && calls_for_writing_in_place(replaced.error().os_error())) {
      replaced = overwrite_in_place(*file, target, data);
    }
  }
  error::Result<void> closed = close_checked(file->fd);
  if (replaced) replaced = std::move(closed);
  return replaced;
}

}  // namespace

error::Result<bool> create_file(const WriteTarget& target, std::string_view data) {
  if (target.outside) return error::fail(*target.outside);
  // A link at its end leads into a folder that is missing.
  if (target.folder < 0) return error::fail_os(ENOENT);
  return write_whole(target.folder, target.name, data, /*like=*/nullptr, Naming::New);
}

error::Result<void> replace_file(const WriteTarget& target, std::string_view data) {
  if (!target.info) return error::fail_os(ENOENT);
  if (S_ISDIR(target.info->st_mode)) return error::fail_os(EISDIR);
  // Refused before it is opened: opening a device can do things of its own.
  if (!S_ISREG(target.info->st_mode)) {
    return error::fail(not_regular_file(target.path, target.info->st_mode));
  }
  if (target.outside) return error::fail(*target.outside);
  if (error::Result<void> checked = check_no_copy_beside(target); !checked) return checked;
  return replace_existing(target, data);
}

error::Result<void> check_no_interrupted_rewrite(ProjectRoot& project, const fs::path& path) {
  const error::Result<WriteTarget> target = project.look_up(path);
  // A path that cannot be followed is no file; what reads or writes it meets the error.
  if (!target || target->folder < 0 || !target->info) return {};
  return check_no_copy_beside(*target);
}

}  // namespace files
