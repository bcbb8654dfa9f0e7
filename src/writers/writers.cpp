#include "writers/writers.h"

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <fmt/core.h>

#include "files/replace.h"
#include "files/resolve.h"
#include "style/style.h"
#include "text/text.h"

namespace writers {

namespace {

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

error::Result<GeneratedFile> write_file(files::ProjectRoot& project,
                                        const std::filesystem::path& path, std::string_view content,
                                        bool force, bool dry_run) {
  if (dry_run) return GeneratedFile{path, std::string(content), WriteStatus::DryRun};
  // Parents are made before the existence test, so even a skipped file has its directory.
  error::Result<files::WriteTarget> target = project.locate(path);
  if (!target) return error::pass(target);
  if (target->info && !force) {
    return GeneratedFile{path, std::string(content), WriteStatus::Skipped};
  }
  std::string data = with_final_line_feed(content);
  if (!target->info) {
    const error::Result<bool> created = files::create_file(*target, data);
    if (!created) return error::pass(created);
    if (*created) return GeneratedFile{path, std::move(data), WriteStatus::Created};
    // Someone saved a file under that name since it was looked at: it is found existing, and
    // only force replaces it.
    if (!force) return GeneratedFile{path, std::string(content), WriteStatus::Skipped};
    target = project.look_up(path);
    if (!target) return error::pass(target);
  }
  if (error::Result<void> written = files::replace_file(*target, data); !written) {
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
