#include <string_view>

#include <fmt/core.h>

#include "cli/cli.h"
#include "files/resolve.h"
#include "generators/alembic.h"
#include "layout/layout.h"
#include "style/style.h"
#include "writers/writers.h"

namespace cli {

namespace {

constexpr std::string_view kNextSteps =
    "Next steps:\n"
    "  1. Add the dependency:  uv add alembic\n"
    "  2. Apply the baseline:   uv run alembic upgrade head\n"
    "  3. After model changes:  uv run alembic revision --autogenerate -m '<message>' && uv run "
    "alembic upgrade head\n"
    "  If the DB was already created without Alembic (create_all), adopt it with `uv run alembic "
    "stamp head`,\n"
    "  or delete the dev DB and re-create it via steps 2-3.";

}  // namespace

error::Result<Messages> run_init_alembic(InitAlembic command) {
  const std::filesystem::path root = resolve_dir(command.dir);
  // Of runs at once, only the first may report the files it found missing as created.
  const error::Result<files::DirectoryLock> lock = lock_project(root, !command.dry_run);
  if (!lock) return error::pass(lock);
  const error::Result<std::string> source_dir = layout::package_source_dir(root);
  if (!source_dir) return error::pass(source_dir);
  const std::string& source = *source_dir;
  // Every write of the run resolves beneath this one handle on the project directory.
  files::ProjectRoot project(root);
  auto files = generators::alembic::generate_alembic(project, source, command.dry_run);
  if (!files) return error::pass(files);
  Messages messages = writers::report(*files, command.dry_run);
  // Shown after every generation, skipped files and dry runs included: the steps still apply.
  messages.push_back(style::Cyan{kNextSteps}.str());
  return messages;
}

}  // namespace cli
