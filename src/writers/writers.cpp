#include "writers/writers.h"

#include <sys/stat.h>

#include <cerrno>
#include <iterator>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "files/files.h"
#include "files/replace.h"
#include "style/style.h"
#include "text/text.h"

namespace writers {

namespace fs = std::filesystem;

struct ProjectScope::State {
  fs::path root;
  std::optional<fs::path> resolved_root;  // resolved when the first link is met
  std::unordered_set<std::string> ready_directories;  // made or found, as joined

  error::Result<void> check_leads_inside(const fs::path& path, const fs::path& leads_to);
  error::Result<void> check_inside(const fs::path& link);
  error::Result<void> make_level(const fs::path& directory);
  error::Result<void> ready_directory(const fs::path& directory);
};

namespace {

ProjectScope::State* active_scope = nullptr;

// The names that lead down from `root` to `path`, or none when the path was not joined from it
// or climbs back up.
std::optional<std::vector<fs::path>> names_below(const fs::path& path, const fs::path& root) {
  auto at = path.begin();
  for (const fs::path& name : root) {
    if (name.empty()) continue;  // what a final "/" gives
    if (at == path.end() || *at != name) return std::nullopt;
    ++at;
  }
  std::vector<fs::path> names;
  for (; at != path.end(); ++at) {
    if (*at == "..") return std::nullopt;
    if (!at->empty()) names.push_back(*at);
  }
  return names;
}

bool within(const fs::path& path, const fs::path& directory) {
  const std::string& inner = path.native();
  const std::string& outer = directory.native();
  return inner.starts_with(outer) &&
         (inner.size() == outer.size() || outer.ends_with('/') || inner[outer.size()] == '/');
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

error::Result<void> make_parent(const fs::path& path) {
  const fs::path directory = path.parent_path();
  if (directory.empty()) return {};
  if (active_scope == nullptr) return files::create_dir_all(directory);
  return active_scope->ready_directory(directory);
}

}  // namespace

// A repository someone clones can carry links, and nothing the program writes may land outside
// the project through them.
error::Result<void> ProjectScope::State::check_leads_inside(const fs::path& path,
                                                            const fs::path& leads_to) {
  if (!resolved_root) {
    error::Result<fs::path> found = files::resolved(root);
    if (!found) return error::pass(found);
    resolved_root = std::move(*found);
  }
  if (within(leads_to, *resolved_root)) return {};
  return error::fail(fmt::format("{} leads to {}, outside the project", files::quoted(path),
                                 files::quoted(leads_to)));
}

error::Result<void> ProjectScope::State::check_inside(const fs::path& link) {
  const error::Result<fs::path> leads_to = files::resolved(link);
  if (!leads_to) return error::pass(leads_to);
  return check_leads_inside(link, *leads_to);
}

// One directory below the root, whose parent is ready: made, or found to be a directory that
// stays inside the project.
error::Result<void> ProjectScope::State::make_level(const fs::path& directory) {
  if (::mkdir(directory.c_str(), 0777) == 0) return {};
  const int errnum = errno;
  struct stat info;
  if (::lstat(directory.c_str(), &info) != 0) return error::fail(error::Error::from_errno(errnum));
  if (S_ISDIR(info.st_mode)) return {};
  if (S_ISLNK(info.st_mode)) {
    if (error::Result<void> inside = check_inside(directory); !inside) return inside;
    if (files::is_directory(directory)) return {};
  }
  // Something other than a directory already stands where one is needed.
  return error::fail(error::Error::from_errno(errnum == EEXIST ? ENOTDIR : errnum));
}

// The root and what leads to it are made as they are; below it, one level at a time, each
// once a run.
error::Result<void> ProjectScope::State::ready_directory(const fs::path& directory) {
  if (ready_directories.contains(directory.native())) return {};
  const std::optional<std::vector<fs::path>> names = names_below(directory, root);
  if (!names) {
    // Not joined from the root: made only where it leads inside.
    if (error::Result<void> inside = check_inside(directory); !inside) return inside;
    return files::create_dir_all(directory);
  }
  fs::path level = root;
  if (!ready_directories.contains(level.native())) {
    if (error::Result<void> made = files::create_dir_all(level); !made) return made;
    ready_directories.insert(level.native());
  }
  for (const fs::path& name : *names) {
    level /= name;
    if (ready_directories.contains(level.native())) continue;
    if (error::Result<void> made = make_level(level); !made) return made;
    ready_directories.insert(level.native());
  }
  ready_directories.insert(directory.native());
  return {};
}

ProjectScope::ProjectScope(const fs::path& root) : state_(new State{root, {}, {}}) {
  active_scope = state_.get();
}

ProjectScope::~ProjectScope() {
  if (active_scope == state_.get()) active_scope = nullptr;
}

error::Result<void> ProjectScope::check_inside(const fs::path& path) {
  const error::Result<fs::path> leads_to = files::resolved(path);
  if (!leads_to) return {};
  // What is no regular file is refused as such wherever it is.
  struct stat info;
  if (::stat(leads_to->c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return {};
  return state_->check_leads_inside(path, *leads_to);
}

error::Result<GeneratedFile> write_file(const std::filesystem::path& path, std::string_view content,
                                        bool force, bool dry_run) {
  if (dry_run) return GeneratedFile{path, std::string(content), WriteStatus::DryRun};
  // Parents are made before the existence test, so even a skipped file has its directory.
  if (error::Result<void> made = make_parent(path); !made) {
    return error::pass(made);
  }
  error::Result<files::WriteTarget> target = files::follow_links(path);
  if (!target) return error::pass(target);
  if (target->info && !force) {
    return GeneratedFile{path, std::string(content), WriteStatus::Skipped};
  }
  // What is no regular file is refused as such wherever it is.
  const bool file_or_nothing = !target->info || S_ISREG(target->info->st_mode);
  if (active_scope != nullptr && target->path != path && file_or_nothing) {
    if (error::Result<void> inside = active_scope->check_inside(path); !inside) {
      return error::pass(inside);
    }
  }
  std::string data = with_final_line_feed(content);
  if (error::Result<void> written = files::replace_target(*target, data); !written) {
    return error::pass(written);
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

error::Result<void> append(std::vector<GeneratedFile>& files,
                           error::Result<std::vector<GeneratedFile>> step) {
  if (!step) return error::pass(step);
  files.insert(files.end(), std::make_move_iterator(step->begin()),
               std::make_move_iterator(step->end()));
  return {};
}

error::Result<void> append(std::vector<GeneratedFile>& files, error::Result<GeneratedFile> step) {
  if (!step) return error::pass(step);
  files.push_back(std::move(*step));
  return {};
}

}  // namespace writers
