#include "writers/writers.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "files/files.h"
#include "style/output.h"
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

// Writes `data` as the whole file, creating it (mode 0666 less the umask) or truncating it.
int write_whole_file(const std::filesystem::path& path, std::string_view data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      const int errnum = errno;
      ::close(fd);
      return errnum;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  // A file system may report a failed write only when the file is closed.
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
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
  if (const int errnum = write_whole_file(path, data); errnum != 0) {
    return fail(Error::from_errno(errnum));
  }
  return GeneratedFile{path, std::move(data), WriteStatus::Created};
}

void report(std::span<const GeneratedFile> files, bool dry_run) {
  const std::string prefix = dry_run ? style::Yellow{"[dry-run]"}.str() + " " : std::string();
  for (const GeneratedFile& file : files) {
    style::print_stdout(fmt::format("{}{} {}", prefix, status_label(file.status),
                                    text::lossy_utf8(file.path.native())));
  }
}

}  // namespace writers
