#include "files/resolve.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>
#include <utility>

#include <fmt/core.h>

#include "files/files.h"

namespace files {

namespace {

namespace fs = std::filesystem;

// Hops through symbolic links before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;
// Rounds of resolved(): each one takes the last name off the path or follows a bounded chain of
// links, so a path of PATH_MAX bytes is done long before.
constexpr int kMaxResolveRounds = PATH_MAX;

// The path once the symbolic links at its end are followed, a relative link from the directory
// that holds it.
[[nodiscard]] error::Result<fs::path> follow_end_links(fs::path current) {
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    struct stat info;
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::error_code error;
    fs::path next = fs::read_symlink(current, error);
    if (error) return error::fail(error::Error::from_error_code(error));
    current = next.is_absolute() ? std::move(next) : current.parent_path() / next;
  }
  return error::fail_os(ELOOP);
}

// `path` with every symbolic link on it followed, absolute; the part of it that does not exist
// yet is appended as it is written. It goes by path, and so serves only to say where a link
// leads (in a message, or to find the names its target has below the root), never to reach what
// is written.
[[nodiscard]] error::Result<fs::path> resolved(fs::path path) {
  fs::path missing;  // the names below the part that exists
  for (int round = 0; round < kMaxResolveRounds; ++round) {
    error::Result<fs::path> end = follow_end_links(std::move(path));
    if (!end) return end;
    const fs::path at = end->empty() ? fs::path(".") : std::move(*end);
    if (char* real = ::realpath(at.c_str(), nullptr)) {
      fs::path found(real);
      std::free(real);
      return missing.empty() ? found : (found / missing).lexically_normal();
    }
    const int errnum = errno;
    // Not there yet: where its directory leads, and its name. "." has no name to take off: the
    // current directory itself is gone.
    if (errnum != ENOENT || !at.has_relative_path() || at == ".") return error::fail_os(errnum);
    missing = missing.empty() ? at.filename() : at.filename() / missing;
    path = at.parent_path();
    if (path.empty()) path = ".";
  }
  return error::fail_os(ELOOP);
}

// The names that lead down from `root` to `path`, or none when the path was not joined from the
// root or climbs back up.
std::optional<std::vector<std::string>> names_below(const fs::path& path, const fs::path& root) {
  auto at = path.begin();
  for (const fs::path& name : root) {
    if (name.empty()) continue;  // what a final "/" gives
    if (at == path.end() || *at != name) return std::nullopt;
    ++at;
  }
  std::vector<std::string> names;
  for (; at != path.end(); ++at) {
    if (*at == "..") return std::nullopt;
    if (!at->empty()) names.push_back(at->native());
  }
  return names;
}

// The names of `path` below `directory`, both absolute with their links resolved; none when it
// lies elsewhere.
std::optional<std::vector<std::string>> names_within(const fs::path& path,
                                                     const std::string& directory) {
  const std::string& inner = path.native();
  const bool within = inner.starts_with(directory) &&
                      (inner.size() == directory.size() || directory.ends_with('/') ||
                       inner[directory.size()] == '/');
  if (!within) return std::nullopt;
  std::vector<std::string> names;
  for (const fs::path& name : fs::path(inner.substr(directory.size())).relative_path()) {
    if (!name.empty()) names.push_back(name.native());
  }
  return names;
}

std::string joined(std::span<const std::string> names) {
  std::string key;
  for (const std::string& name : names) (key.empty() ? key : key += '/') += name;
  return key;
}

// A repository someone clones can carry links, and nothing the program writes may land outside
// the project through them.
error::Error leads_outside(const fs::path& path, const fs::path& leads_to) {
  return error::Error(
      fmt::format("{} leads to {}, outside the project", quoted(path), quoted(leads_to)));
}

// The folder `name` in `parent`, never through a link: a link fails with ENOTDIR.
int open_below(int parent, const std::string& name) {
  return ::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
}

// The folder at `relative` beneath `root`, in one call, following only links that stay
// beneath it (EXDEV for any other, and for an absolute one).
int open_beneath(int root, const std::string& relative) {
  struct open_how how {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how));
}

// Where the folder open at `fd` is now, absolute, as the kernel knows it; none without /proc.
std::optional<std::string> folder_path(int fd) {
  char buffer[PATH_MAX];
  const std::string link = fmt::format("/proc/self/fd/{}", fd);
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof buffer || buffer[0] != '/') {
    return std::nullopt;
  }
  return std::string(buffer, static_cast<std::size_t>(length));
}

[[nodiscard]] error::Result<fs::path> link_text(int folder, const std::string& name) {
  std::string text(PATH_MAX, '\0');
  const ssize_t length = ::readlinkat(folder, name.c_str(), text.data(), text.size());
  if (length < 0) return error::fail_os(errno);
  if (static_cast<std::size_t>(length) == text.size()) return error::fail_os(ENAMETOOLONG);
  text.resize(static_cast<std::size_t>(length));
  return fs::path(std::move(text));
}

}  // namespace

error::Result<void> create_dir_all(const fs::path& dir) {
  if (dir.empty() || ::mkdir(dir.c_str(), 0777) == 0) return {};
  int errnum = errno;
  if (errnum == ENOENT) {
    const fs::path parent = dir.parent_path();
    if (parent.empty() || parent == dir) return error::fail_os(errnum);
    if (error::Result<void> made = create_dir_all(parent); !made) return made;
    if (::mkdir(dir.c_str(), 0777) == 0) return {};
    errnum = errno;
  }
  if (files::is_directory(dir)) return {};
  // Something other than a directory already stands where one is needed.
  return error::fail_os(errnum == EEXIST ? ENOTDIR : errnum);
}

ProjectRoot::ProjectRoot(fs::path root) : root_(std::move(root)) {}

ProjectRoot::~ProjectRoot() {
  for (const int fd : handles_) ::close(fd);
}

error::Result<WriteTarget> ProjectRoot::locate(const fs::path& path) { return find(path, true); }

error::Result<WriteTarget> ProjectRoot::look_up(const fs::path& path) {
  return find(path, false);
}

error::Result<void> ProjectRoot::check_inside(const fs::path& path) {
  const error::Result<WriteTarget> target = look_up(path);
  if (!target || !target->outside) return {};
  if (target->info && !S_ISREG(target->info->st_mode)) return {};
  return error::fail(*target->outside);
}

// The project directory is the user's choice, so it is opened through whatever links lead to
// it, and made by path with what leads to it when a write needs it; -1 when it is missing and
// nothing is to be made.
error::Result<int> ProjectRoot::root_handle(bool make) {
  if (root_fd_ >= 0) return root_fd_;
  const fs::path at = root_.empty() ? fs::path(".") : root_;
  int fd = ::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && make) {
    if (error::Result<void> made = create_dir_all(at); !made) return error::pass(made);
    fd = ::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (fd < 0) {
    if (!make && (errno == ENOENT || errno == ENOTDIR)) return -1;
    return error::fail_os(errno);
  }
  handles_.push_back(fd);
  return root_fd_ = fd;
}

error::Result<std::string> ProjectRoot::root_real_path() {
  if (root_real_) return *root_real_;
  if (std::optional<std::string> found = folder_path(root_fd_)) return *(root_real_ = found);
  error::Result<fs::path> found = resolved(root_);
  if (!found) return error::pass(found);
  return *(root_real_ = found->native());
}

ProjectRoot::Reached ProjectRoot::keep(std::span<const std::string> names, int fd, bool made) {
  handles_.push_back(fd);
  folders_[joined(names)] = {fd, made};
  return {fd, made, std::nullopt};
}

error::Result<ProjectRoot::Reached> ProjectRoot::folder(std::span<const std::string> names,
                                                        bool make) {
  if (const auto known = folders_.find(joined(names)); known != folders_.end()) {
    return Reached{known->second.fd, known->second.made, std::nullopt};
  }
  if (names.empty()) {
    const error::Result<int> root = root_handle(make);
    if (!root) return error::pass(root);
    return Reached{*root, false, std::nullopt};
  }
  const std::span<const std::string> parent_names = names.first(names.size() - 1);
  // Nothing stood in a folder this run made a moment ago: its new folders are made at once.
  const auto parent_known = folders_.find(joined(parent_names));
  bool missing = parent_known != folders_.end() && parent_known->second.made;
  if (!missing && beneath_call_) {
    const error::Result<int> root = root_handle(make);
    if (!root) return error::pass(root);
    if (*root < 0) return Reached{};
    if (const int fd = open_beneath(*root, joined(names)); fd >= 0) return keep(names, fd, false);
    // Without the call (an older kernel, a filter that forbids it), the walk does it all.
    if (errno == ENOSYS || errno == EPERM || errno == EINVAL || errno == E2BIG) {
      beneath_call_ = false;
    }
    missing = errno == ENOENT;
  }
  // One name at a time: what is missing is made, and a link is looked at before it is followed.
  error::Result<Reached> parent = folder(parent_names, make);
  if (!parent || parent->fd < 0) return parent;
  return step(parent->fd, names, make, missing);
}

// The last of `names`, in the folder of the others, open at `parent`; `missing` when it was
// not there a moment ago, so that it is made first. A folder made here is opened without
// following links, so one swapped for a link meanwhile is looked at as any link is.
error::Result<ProjectRoot::Reached> ProjectRoot::step(int parent,
                                                      std::span<const std::string> names,
                                                      bool make, bool missing) {
  const std::string& name = names.back();
  bool made = false;
  int fd = -1;
  int errnum = ENOENT;
  // A look that makes nothing opens it anyway: a link that leads nowhere counts by where it
  // leads.
  if (!missing || !make) {
    fd = open_below(parent, name);
    errnum = errno;
  }
  if (fd < 0 && errnum == ENOENT && make) {
    if (::mkdirat(parent, name.c_str(), 0777) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      return error::fail_os(errno);
    }
    fd = open_below(parent, name);
    errnum = errno;
  }
  if (fd >= 0) return keep(names, fd, made);
  if (errnum == ENOENT && !make) return Reached{};
  // A link, or something other than a folder: only a look at the entry itself tells which.
  struct stat info;
  if (errnum != ENOTDIR || ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISLNK(info.st_mode)) {
    return error::fail_os(errnum);
  }
  return through_link(parent, names);
}

// A folder that is a link: followed when it leads inside the project, never to make a folder.
error::Result<ProjectRoot::Reached> ProjectRoot::through_link(int parent,
                                                              std::span<const std::string> names) {
  fs::path level = root_;
  for (const std::string& name : names) level /= name;
  error::Result<fs::path> text = link_text(parent, names.back());
  if (!text) return error::pass(text);
  fs::path leads_to;
  const error::Result<std::optional<std::vector<std::string>>> beneath =
      link_beneath(parent, std::move(*text), level, leads_to);
  if (!beneath) return error::pass(beneath);
  if (!*beneath) return Reached{-1, false, leads_outside(level, leads_to)};
  error::Result<Reached> target = folder(**beneath, /*make=*/false);
  if (!target || target->outside) return target;
  // A link that leads nowhere stands where a folder is needed.
  if (target->fd < 0) return error::fail_os(ENOTDIR);
  folders_[joined(names)] = {target->fd, false};
  return Reached{target->fd, false, std::nullopt};
}

// Where a link in the folder `parent` that reads `target` leads (`leads_to`, absolute), and the
// names that has below the root, or none when it lies outside the project; `level` is the
// link's path. The target is placed by path, but only to learn those names: what is written is
// then reached from the root's handle by them.
error::Result<std::optional<std::vector<std::string>>> ProjectRoot::link_beneath(
    int parent, fs::path target, const fs::path& level, fs::path& leads_to) {
  if (++link_hops_ > kMaxLinkHops) return error::fail_os(ELOOP);
  if (target.is_relative()) {
    std::optional<std::string> base = folder_path(parent);
    if (!base) {
      error::Result<fs::path> found = resolved(level.parent_path());
      if (!found) return error::pass(found);
      base = found->native();
    }
    target = fs::path(*base) / target;
  }
  error::Result<fs::path> where = resolved(std::move(target));
  if (!where) return error::pass(where);
  leads_to = std::move(*where);
  const error::Result<std::string> root = root_real_path();
  if (!root) return error::pass(root);
  return names_within(leads_to, *root);
}

// Follows the links at the end of the target, each in the folder that holds it. The path shown
// for it is joined as the links read, so that a message names the file as the user would.
error::Result<void> ProjectRoot::follow_end(WriteTarget& target, const fs::path& path) {
  for (;;) {
    struct stat info;
    if (::fstatat(target.folder, target.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return {};
    if (!S_ISLNK(info.st_mode)) {
      target.info = info;
      return {};
    }
    error::Result<fs::path> text = link_text(target.folder, target.name);
    if (!text) return error::pass(text);
    fs::path leads_to;
    const error::Result<std::optional<std::vector<std::string>>> beneath =
        link_beneath(target.folder, *text, target.path, leads_to);
    if (!beneath) return error::pass(beneath);
    target.path = text->is_absolute() ? std::move(*text) : target.path.parent_path() / *text;
    std::optional<Reached> holder;
    if (*beneath) {
      // No names: the link leads to the root itself, "." in its own folder.
      const std::span<const std::string> names(**beneath);
      error::Result<Reached> found =
          folder(names.first(names.empty() ? 0 : names.size() - 1), /*make=*/false);
      if (!found) return error::pass(found);
      holder = std::move(*found);
      target.name = names.empty() ? std::string(".") : names.back();
    }
    if (!holder || holder->outside) {
      // Looked at by path, so that what stands there counts as it would anywhere, and never
      // opened.
      target.folder = -1;
      target.outside = leads_outside(path, leads_to);
      if (::stat(leads_to.c_str(), &info) == 0) target.info = info;
      return {};
    }
    target.folder = holder->fd;
    if (target.folder < 0) return {};  // into a folder that is missing: nothing stands there
  }
}

error::Result<WriteTarget> ProjectRoot::find(const fs::path& path, bool make) {
  link_hops_ = 0;
  std::optional<std::vector<std::string>> names = names_below(path, root_);
  if (!names) {
    // Not joined from the root: placed by path, and reached from the root by the names found.
    const error::Result<int> root = root_handle(make);
    if (!root) return error::pass(root);
    error::Result<fs::path> where = resolved(path);
    if (!where) return error::pass(where);
    if (*root >= 0) {
      const error::Result<std::string> real = root_real_path();
      if (!real) return error::pass(real);
      names = names_within(*where, *real);
    }
    if (!names) return error::fail(leads_outside(path, *where));
  }
  WriteTarget target{-1, names->empty() ? "." : names->back(), path, std::nullopt, std::nullopt};
  const std::span<const std::string> all(*names);
  const error::Result<Reached> holder = folder(all.first(all.empty() ? 0 : all.size() - 1), make);
  if (!holder) return error::pass(holder);
  if (holder->outside) {
    if (make) return error::fail(*holder->outside);
    // A check of the file names the file, and where the whole path leads.
    const error::Result<fs::path> where = resolved(path);
    target.outside = leads_outside(path, where ? *where : path);
    struct stat info;
    if (where && ::stat(where->c_str(), &info) == 0) target.info = info;
    return target;
  }
  target.folder = holder->fd;
  // Nothing stood in a folder this run made a moment ago. A file that appears there since meets
  // the write's own refusal to take a name that is taken.
  if (target.folder < 0 || (make && holder->made)) return target;
  if (error::Result<void> followed = follow_end(target, path); !followed) {
    return error::pass(followed);
  }
  return target;
}

}  // namespace files
