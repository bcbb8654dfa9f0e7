#include "cli/cli.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <system_error>

#include <fmt/core.h>

#include "files/resolve.h"
#include "style/output.h"
#include "style/style.h"
#include "text/text.h"

namespace cli {

namespace {

// Whether `dir`, compared as paths component by component, is ".": a leading "." followed by
// nothing but separators and further "." components (".", "./", ".//", "./.").
bool is_current_dir(const std::filesystem::path& dir) {
  const std::string& bytes = dir.native();
  return bytes.starts_with('.') &&
         std::ranges::all_of(text::path_components(bytes), [](auto c) { return c == "."; });
}

}  // namespace

error::Result<Messages> execute(Commands command) {
  return std::visit(
      [](auto&& parsed) -> error::Result<Messages> {
        using T = std::decay_t<decltype(parsed)>;
        if constexpr (std::is_same_v<T, New>) {
          return run_new(std::move(parsed));
        } else if constexpr (std::is_same_v<T, Make>) {
          return run_make_module(std::get<MakeModule>(std::move(parsed.command)));
        } else if constexpr (std::is_same_v<T, Init>) {
          return run_init_alembic(std::get<InitAlembic>(std::move(parsed.command)));
        } else {
          return run_list(std::move(parsed));
        }
      },
      std::move(command));
}

std::filesystem::path resolve_dir(const std::filesystem::path& dir) {
  if (!is_current_dir(dir)) return dir;
  std::error_code error;
  std::filesystem::path cwd = std::filesystem::current_path(error);
  return error ? dir : cwd;
}

error::Result<files::DirectoryLock> lock_project(const std::filesystem::path& dir,
                                                 bool writes) {
  // The lock lives on the project directory itself, the one object that every spelling of it
  // reaches, and it must be there before the lock is taken: a run that locked the directory
  // above would not keep out one that starts once the project directory is made, and locks
  // that. Where it cannot be made, the run's first write fails the same way.
  if (writes) (void)files::create_dir_all(dir);
  // A run that writes nothing loses nothing unlocked, so a directory it cannot lock does not
  // stop it; it still waits for a run that holds the lock.
  return files::lock_directory(dir, writes, [](const std::filesystem::path& locked) {
    const std::string notice =
        fmt::format("Directory {} is locked by another process; waiting up to {} seconds...",
                    files::quoted(locked), files::kLockWaitSeconds);
    // A notice only: whether it could be shown or not, the run's outcome decides the status.
    (void)style::print_line(style::Stream::Stderr, style::Yellow{notice}.str());
  });
}

}  // namespace cli
