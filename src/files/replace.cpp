#include "files/replace.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include <fmt/core.h>

#include "files/descriptor.h"
#include "files/files.h"

namespace files {

namespace {

namespace fs = std::filesystem;

// Hops through symbolic links at the end of a path before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;
// Bytes of the target's name kept in its temporary name: enough to tell whose it is, short
// enough that the temporary name fits wherever the target's name does.
constexpr std::size_t kTempNameStemBytes = 64;
constexpr std::string_view kTempNameMarker = ".brintle-";
constexpr unsigned kTempNameAttempts = 100;
// Ends the name of the copy that keeps a file's old bytes while it is rewritten in place.
constexpr std::string_view kOldBytesCopySuffix = ".brintle-old";

// The signals whose default action ends the process, but for the faults of the program's own
// instructions (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS): the kernel forces those
// through whatever is held, and a sanitizer or a debugger must see them first. The real-time
// signals are added at run time.
constexpr int kTerminationSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGABRT, SIGUSR1,  SIGUSR2,
                                       SIGPIPE, SIGALRM,   SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ,
                                       SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};

const sigset_t& termination_signals() {
  static const sigset_t signals = [] {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kTerminationSignals) sigaddset(&set, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
    return set;
  }();
  return signals;
}

// The temporary file being written, for the signal handler to remove. Set and cleared only
// while the termination signals are held back, so that the handler never sees half a path,
// nor the path of a file that another process created or that is already renamed into place.
char pending_temp_path[PATH_MAX];
volatile std::sig_atomic_t has_pending_temp = 0;

bool handlers_wanted = false;
bool handlers_installed = false;

// Holds the termination signals back for its lifetime; one that arrives meanwhile takes effect
// when they are let through again. Holds within a hold cost nothing.
int hold_depth = 0;
sigset_t mask_before_hold;

class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld() {
    if (hold_depth++ == 0) ::sigprocmask(SIG_BLOCK, &termination_signals(), &mask_before_hold);
  }
  ~TerminationSignalsHeld() {
    if (--hold_depth == 0) ::sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
  }
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;
};

void remove_pending_temp_and_end(int signal) {
  if (has_pending_temp != 0) ::unlink(pending_temp_path);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(signal, &default_action, nullptr);
  // The signal is held while its handler runs, so this one ends the process on return.
  ::raise(signal);
}

void install_handlers_once() {
  if (!handlers_wanted || handlers_installed) return;
  handlers_installed = true;
  struct sigaction action {};
  action.sa_handler = remove_pending_temp_and_end;
  action.sa_mask = termination_signals();
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&termination_signals(), signal) != 1) continue;
    struct sigaction previous {};
    if (::sigaction(signal, &action, &previous) != 0) continue;
    // A run started with the signal ignored (nohup, a background job) goes on ignoring it, and
    // so does one the entry chose to ignore (SIGPIPE, SIGXFSZ).
    if (previous.sa_handler == SIG_IGN) ::sigaction(signal, &previous, nullptr);
  }
}

// A temporary file beside its target, open for writing and known to the signal handler.
struct TempFile {
  int fd = -1;
  fs::path path;
};

// The file as it stands before it is replaced: open, and what fstat said of it.
struct Existing {
  int fd = -1;
  bool readable = false;
  struct stat info {};
};

// Closes `fd`; Linux has released the descriptor even after EINTR.
error::Result<void> close_checked(int fd) {
  if (::close(fd) != 0 && errno != EINTR) return error::fail(error::Error::from_errno(errno));
  return {};
}

error::Result<void> last_call_failed() { return error::fail(error::Error::from_errno(errno)); }

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
fs::path old_bytes_copy(const fs::path& target) {
  return target.parent_path() /
         fmt::format("{}{}", name_stem(target.filename().native(), kTempNameStemBytes),
                     kOldBytesCopySuffix);
}

error::Result<void> check_no_copy_beside(const fs::path& target) {
  const fs::path copy = old_bytes_copy(target);
  struct stat info;
  if (::lstat(copy.c_str(), &info) != 0) return {};
  return error::fail(fmt::format(
      "a run was stopped while it rewrote {}; its old bytes are kept in {}: put the right text "
      "in the file, then remove the copy",
      quoted(target), quoted(copy)));
}

void make_pending(const fs::path& path) {
  const std::string& bytes = path.native();
  if (bytes.size() >= sizeof pending_temp_path) return;  // too long to have been opened
  std::memcpy(pending_temp_path, bytes.c_str(), bytes.size() + 1);
  has_pending_temp = 1;
}

// A new, empty hidden file beside `target`, named ".<name>.brintle-XXXXXX" and opened for
// writing. Created with `mode` through open() rather than mkstemp(), so that the umask and a
// directory's default ACL apply to a new file exactly as they would to the target itself.
error::Result<TempFile> create_temp_beside(const fs::path& target, mode_t mode) {
  install_handlers_once();
  const std::string stem(name_stem(target.filename().native(), kTempNameStemBytes));
  for (unsigned attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    TempFile temp{-1, target.parent_path() /
                          fmt::format(".{}{}{}", stem, kTempNameMarker, temp_suffix(attempt))};
    const TerminationSignalsHeld held;
    temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (temp.fd >= 0) {
      make_pending(temp.path);
      return temp;
    }
    if (errno != EEXIST) return error::fail(error::Error::from_errno(errno));
  }
  return error::fail(error::Error::from_errno(EEXIST));
}

void discard(const TempFile& temp) {
  const TerminationSignalsHeld held;
  ::unlink(temp.path.c_str());
  has_pending_temp = 0;
}

error::Result<void> rename_into_place(const TempFile& temp, const fs::path& target) {
  const TerminationSignalsHeld held;
  error::Result<void> renamed;
  if (::rename(temp.path.c_str(), target.c_str()) != 0) {
    renamed = last_call_failed();
    ::unlink(temp.path.c_str());
  }
  has_pending_temp = 0;
  return renamed;
}

// Gives the replacement the owner, group and permission bits of the file it replaces. The
// owner can only be kept by a privileged process; elsewhere the file becomes the writer's,
// as with any editor that saves by renaming. Set-id bits are not carried over: a write in
// place clears them as well.
error::Result<void> take_over_attributes(int fd, const struct stat& replaced) {
  if (::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
    // Keep at least the group, if this process is allowed to choose it.
    (void)!::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid);
  }
  if (::fchmod(fd, replaced.st_mode & 0777) != 0) return last_call_failed();
  return {};
}

// The value of one extended attribute.
error::Result<std::string> attribute_value(int fd, const char* name) {
  const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
  if (size < 0) return error::fail(error::Error::from_errno(errno));
  std::string value(static_cast<std::size_t>(size), '\0');
  // ERANGE when the value grew in between: the copy is then refused rather than cut short.
  const ssize_t length = ::fgetxattr(fd, name, value.data(), value.size());
  if (length < 0) return error::fail(error::Error::from_errno(errno));
  value.resize(static_cast<std::size_t>(length));
  return value;
}

// Copies every extended attribute (access control lists, security labels, what other tools
// stored) of the replaced file. Copied after the permission bits, since an access control list
// decides some of them. A file system without extended attributes has none to copy.
error::Result<void> copy_extended_attributes(int from, int to) {
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size < 0) return errno == ENOTSUP ? error::Result<void>() : last_call_failed();
  std::string names(static_cast<std::size_t>(size), '\0');
  if (size > 0 && (size = ::flistxattr(from, names.data(), names.size())) < 0) {
    return last_call_failed();
  }
  names.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    error::Result<std::string> value = attribute_value(from, name);
    if (!value) return error::pass(value);
    if (::fsetxattr(to, name, value->data(), value->size(), 0) != 0) return last_call_failed();
  }
  return {};
}

// Writes the temporary file, makes it durable when it replaces a file, and renames it over the
// target. Whatever fails, the temporary file is removed.
//
// fsync before replacing: without it a power cut shortly after the rename can leave the name
// pointing at blocks never written (an empty main.py where the user's code was), and some file
// systems report a failed delayed write only there. A new file has nothing to lose, and
// syncing every file of a new project would make each run wait on the disk dozens of times.
error::Result<void> write_through_temp(const fs::path& target, std::string_view data,
                                       const Existing* replaced) {
  error::Result<TempFile> temp = create_temp_beside(target, replaced != nullptr ? 0600 : 0666);
  if (!temp) return error::pass(temp);
  error::Result<void> filled;
  if (replaced != nullptr) {
    filled = take_over_attributes(temp->fd, replaced->info);
    if (filled) filled = copy_extended_attributes(replaced->fd, temp->fd);
  }
  if (filled) filled = write_all(temp->fd, data);
  if (filled && replaced != nullptr && ::fsync(temp->fd) != 0 && errno != EINVAL) {
    filled = last_call_failed();
  }
  error::Result<void> closed = close_checked(temp->fd);
  if (filled) filled = std::move(closed);
  if (!filled) {
    discard(*temp);
    return filled;
  }
  return rename_into_place(*temp, target);
}

// A new file is written unnamed and named once it is whole: no reader sees half of it, and
// nothing is left behind, whatever ends the process. Where the file system has no unnamed files
// (or /proc is not there to name one), through a temporary file.
error::Result<void> create_file(const fs::path& path, std::string_view data) {
  const fs::path directory = path.parent_path();
  const int fd = ::open(directory.empty() ? "." : directory.c_str(),
                        O_TMPFILE | O_WRONLY | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return write_through_temp(path, data, /*replaced=*/nullptr);
  error::Result<void> written = write_all(fd, data);
  if (written) {
    const std::string unnamed = fmt::format("/proc/self/fd/{}", fd);
    if (::linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      ::close(fd);
      return write_through_temp(path, data, /*replaced=*/nullptr);
    }
  }
  error::Result<void> closed = close_checked(fd);
  if (written) written = std::move(closed);
  return written;
}

// Whether a failure of the rename road leaves writing in place as the way: the directory may
// not be written, the file is a mount point or on another device, or an attribute of the old
// file cannot be given to a new one.
bool calls_for_writing_in_place(int errnum) {
  return errnum == EACCES || errnum == EPERM || errnum == EBUSY || errnum == EXDEV ||
         errnum == ENOTSUP;
}

error::Result<void> pwrite_all(int fd, std::string_view bytes) {
  for (off_t at = 0; !bytes.empty();) {
    const ssize_t written =
        retry_on_eintr([&] { return ::pwrite(fd, bytes.data(), bytes.size(), at); });
    if (written < 0) return last_call_failed();
    bytes.remove_prefix(static_cast<std::size_t>(written));
    at += written;
  }
  return {};
}

// The file's bytes, up to the size fstat gave.
error::Result<std::string> read_start(int fd, off_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t count = retry_on_eintr([&] {
      return ::pread(fd, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
    });
    if (count < 0) return error::fail(error::Error::from_errno(errno));
    if (count == 0) return bytes.substr(0, at);
    at += static_cast<std::size_t>(count);
  }
  return bytes;
}

error::Error cannot_keep_old_bytes(const fs::path& target, error::Error cause) {
  return std::move(cause).context(fmt::format(
      "cannot keep the old bytes of {} while it is rewritten in place", quoted(target)));
}

// The bytes to put back should the rewrite fail. A file that may only be written has none to
// give, and is left alone.
error::Result<std::string> old_bytes(const Existing& file, const fs::path& target) {
  if (!file.readable && file.info.st_size > 0) {
    return error::fail(cannot_keep_old_bytes(target, error::Error::from_errno(EACCES)));
  }
  error::Result<std::string> bytes = read_start(file.fd, file.readable ? file.info.st_size : 0);
  if (!bytes) return error::fail(cannot_keep_old_bytes(target, std::move(bytes).error()));
  return bytes;
}

// Makes the directory entries made so far in `directory` outlast a power cut. Best effort: the
// copy itself is synced, and a system that cannot sync a directory keeps its entries anyway.
void sync_directory(const fs::path& directory) {
  const int fd = ::open(directory.empty() ? "." : directory.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

// Keeps a synced copy of the old bytes beside the file, with its owner, permission bits and
// extended attributes, until its new text is whole and synced: a kill at any instant (SIGKILL,
// the OOM killer, a power cut) then leaves the old bytes whole in one of the two, and a later
// run names the copy. Where the directory takes no such file, the old bytes are kept in memory
// only, which puts them back after a failed write but not after a kill.
error::Result<std::optional<fs::path>> keep_copy_beside(const Existing& file,
                                                        const fs::path& target,
                                                        std::string_view bytes) {
  const fs::path copy = old_bytes_copy(target);
  error::Result<void> kept = write_through_temp(copy, bytes, &file);
  if (!kept) {
    if (calls_for_writing_in_place(kept.error().os_error())) return std::nullopt;
    return error::fail(cannot_keep_old_bytes(target, std::move(kept).error()));
  }
  sync_directory(copy.parent_path());
  return copy;
}

// Writes `data` over the file's own bytes and makes them durable. Room for a longer text is
// reserved first without moving the end of the file, so that a full disk fails before the
// first byte changes and nothing ever sees the file grown with zeros.
error::Result<void> write_over(int fd, std::string_view data, off_t old_size) {
  const auto new_size = static_cast<off_t>(data.size());
  if (new_size > old_size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, new_size) != 0 &&
      errno != EOPNOTSUPP) {
    return last_call_failed();
  }
  error::Result<void> written = pwrite_all(fd, data);
  if (written && ::ftruncate(fd, new_size) != 0) written = last_call_failed();
  if (written && ::fsync(fd) != 0 && errno != EINVAL) written = last_call_failed();
  return written;
}

// Writes `data` over the file's own bytes, for a file that must stay the same file: other names
// share it, or it cannot be renamed over. Interrupts wait until the file is whole again.
error::Result<void> overwrite_in_place(const Existing& file, const fs::path& target,
                                       std::string_view data) {
  const TerminationSignalsHeld held;
  error::Result<std::string> old = old_bytes(file, target);
  if (!old) return error::pass(old);
  error::Result<std::optional<fs::path>> copy = keep_copy_beside(file, target, *old);
  if (!copy) return error::pass(copy);
  error::Result<void> written = write_over(file.fd, data, file.info.st_size);
  if (!written) {
    if (!write_over(file.fd, *old, file.info.st_size) && *copy) {
      return error::fail(std::move(written).error().context(
          fmt::format("{} is left half rewritten; its old bytes are kept in {}", quoted(target),
                      quoted(**copy))));
    }
  }
  if (*copy) ::unlink((*copy)->c_str());
  return written;
}

// Opens the file to be replaced. This is also the permission test: a file the user may not
// write stays refused, as a write in place would be; renaming over it would slip past its
// permissions. Read access, where there is some, lets a failed write in place be undone.
error::Result<Existing> open_existing(const fs::path& target) {
  constexpr int kFlags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  Existing file;
  file.fd = ::open(target.c_str(), O_RDWR | kFlags);
  file.readable = file.fd >= 0;
  if (file.fd < 0 && errno == EACCES) file.fd = ::open(target.c_str(), O_WRONLY | kFlags);
  if (file.fd < 0) return error::fail(error::Error::from_errno(errno));
  if (::fstat(file.fd, &file.info) != 0) {
    error::Error error = error::Error::from_errno(errno);
    ::close(file.fd);
    return error::fail(std::move(error));
  }
  // Something else may have been put there since the path was looked at.
  if (!S_ISREG(file.info.st_mode)) {
    ::close(file.fd);
    return error::fail(not_regular_file(target, file.info.st_mode));
  }
  return file;
}

error::Result<void> replace_existing(const fs::path& target, std::string_view data) {
  error::Result<Existing> file = open_existing(target);
  if (!file) return error::pass(file);
  error::Result<void> replaced;
  if (file->info.st_nlink > 1) {
    // Renaming would part this name from the others, which would keep the old text.
    replaced = overwrite_in_place(*file, target, data);
  } else {
    replaced = write_through_temp(target, data, &*file);
    if (!replaced && calls_for_writing_in_place(replaced.error().os_error())) {
      replaced = overwrite_in_place(*file, target, data);
    }
  }
  error::Result<void> closed = close_checked(file->fd);
  if (replaced) replaced = std::move(closed);
  return replaced;
}

}  // namespace

error::Result<void> create_dir_all(const fs::path& dir) {
  if (dir.empty() || ::mkdir(dir.c_str(), 0777) == 0) return {};
  int errnum = errno;
  if (errnum == ENOENT) {
    const fs::path parent = dir.parent_path();
    if (parent.empty() || parent == dir) return error::fail(error::Error::from_errno(errnum));
    if (error::Result<void> made = create_dir_all(parent); !made) return made;
    if (::mkdir(dir.c_str(), 0777) == 0) return {};
    errnum = errno;
  }
  if (files::is_directory(dir)) return {};
  // Something other than a directory already stands where one is needed.
  return error::fail(error::Error::from_errno(errnum == EEXIST ? ENOTDIR : errnum));
}

error::Result<WriteTarget> follow_links(const fs::path& path) {
  fs::path current = path;
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    struct stat info;
    if (::lstat(current.c_str(), &info) != 0) return WriteTarget{std::move(current), std::nullopt};
    if (!S_ISLNK(info.st_mode)) return WriteTarget{std::move(current), info};
    std::error_code error;
    fs::path next = fs::read_symlink(current, error);
    if (error) return error::fail(error::Error::from_error_code(error));
    // A relative link is relative to the directory that holds it.
    current = next.is_absolute() ? std::move(next) : current.parent_path() / next;
  }
  return error::fail(error::Error::from_errno(ELOOP));
}

error::Result<fs::path> resolved(const fs::path& path) {
  error::Result<WriteTarget> target = follow_links(path);
  if (!target) return error::pass(target);
  const fs::path& end = target->path.empty() ? fs::path(".") : target->path;
  if (char* real = ::realpath(end.c_str(), nullptr)) {
    fs::path found(real);
    std::free(real);
    return found;
  }
  if (errno != ENOENT || !end.has_relative_path()) {
    return error::fail(error::Error::from_errno(errno));
  }
  // Not there yet: where its directory leads, and its name.
  error::Result<fs::path> directory = resolved(end.parent_path());
  if (!directory) return directory;
  return (*directory / end.filename()).lexically_normal();
}

error::Result<void> replace_target(const WriteTarget& target, std::string_view data) {
  if (!target.info) return create_file(target.path, data);
  if (S_ISDIR(target.info->st_mode)) return error::fail(error::Error::from_errno(EISDIR));
  // Refused before it is opened: opening a device can do things of its own.
  if (!S_ISREG(target.info->st_mode)) {
    return error::fail(not_regular_file(target.path, target.info->st_mode));
  }
  if (error::Result<void> checked = check_no_copy_beside(target.path); !checked) return checked;
  return replace_existing(target.path, data);
}

error::Result<void> check_no_interrupted_rewrite(const fs::path& path) {
  const error::Result<WriteTarget> target = follow_links(path);
  // A path that cannot be followed is no file; what reads or writes it meets the error.
  if (!target || !target->info) return {};
  return check_no_copy_beside(target->path);
}

void remove_pending_temporary_file() {
  const TerminationSignalsHeld held;
  if (has_pending_temp != 0) ::unlink(pending_temp_path);
  has_pending_temp = 0;
}

void remove_temporary_file_on_termination_signals() { handlers_wanted = true; }

}  // namespace files
