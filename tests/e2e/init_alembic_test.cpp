#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file, testing_support::TempDir, testing_support::write_file;

constexpr std::string_view kNextSteps = "Next steps:\n"
    "  1. Add the dependency:  uv add alembic\n"
    "  2. Apply the baseline:   uv run alembic upgrade head\n"
    "  3. After model changes:  uv run alembic revision --autogenerate -m '<message>' && uv run "
    "alembic upgrade head\n"
    "  If the DB was already created without Alembic (create_all), adopt it with `uv run alembic "
    "stamp head`,\n"
    "  or delete the dev DB and re-create it via steps 2-3.";
static_assert(kNextSteps.size() == 379);

// What a run prints with colour off: a report line per file under `base`, then the next steps.
std::string report(std::string_view label, const std::string& base) {
  std::string out;
  for (const char* file : {"alembic.ini", "migrations/env.py", "migrations/script.py.mako",
                           "migrations/versions/0001_initial.py"})
    out += std::string(label) + " " + base + "/" + file + "\n";
  return out + std::string(kNextSteps) + "\n";
}

// Runs `brintle init alembic` with `args` in `cwd` and expects its status and both streams (the
// expected output identifies each call).
void expect_init(const fs::path& cwd, std::vector<std::string> args, int status,
                 const std::string& out, std::string_view err = "") {
  testing_support::RunOptions options;
  options.cwd = cwd;
  args.insert(args.begin(), {"init", "alembic"});
  const auto result = testing_support::run_brintle(args, options);
  EXPECT_EQ(std::tuple(result.status, result.out, result.err), std::tuple(status, out, err));
}

// A project configured for the source directory "app", first reached from its src directory
// through a relative --dir, then from inside, where "." is printed as the absolute path. Dry runs
// write nothing, before the files exist (the real run then still creates all four) and after; a
// second run skips them all and leaves the baseline as it is.
TEST(InitAlembic, CreatesTheFilesOnceThenSkipsThemAll) {
  TempDir dir;
  const fs::path shop = dir.path() / "shop";
  write_file(shop / ".brintle.json", R"({"source_dir": "app"})");
  write_file(shop / "src/main.py", "");
  expect_init(shop / "src", {"--dry-run", "-d", ".."}, 0, report("[dry-run] [dry-run]", ".."));
  EXPECT_FALSE(fs::exists(shop / "migrations"));
  expect_init(shop / "src", {"--dir", ".."}, 0, report("[created]", ".."));
  EXPECT_TRUE(read_file(shop / "migrations/env.py")
                  .contains("from app.core.config import settings\n"
                            "from app.core.database import Base\n"
                            "from app.modules import modules\n"));
  // The revision template is Mako; the two Python files must compile.
  const fs::path baseline = shop / "migrations/versions/0001_initial.py";
  EXPECT_EQ(testing_support::run_program(
                {"python3", "-m", "py_compile", shop / "migrations/env.py", baseline}).status, 0);
  write_file(baseline, "first run\n");
  const std::string absolute = fs::canonical(shop).string();
  expect_init(shop, {"--dry-run"}, 0, report("[dry-run] [dry-run]", absolute));
  expect_init(shop, {"--dir", "."}, 0, report("[skipped]", absolute));
  EXPECT_EQ(read_file(baseline), "first run\n");
}

// Files written before the failure stay; no report is printed.
TEST(InitAlembic, FileSystemErrorEndsWithTheErrorLine) {
  TempDir dir;
  write_file(dir.path() / "shop/migrations", "a file\n");
  expect_init(dir.path(), {"-d", "shop"}, 1, "", "error: Not a directory (os error 20)\n");
  EXPECT_TRUE(fs::exists(dir.path() / "shop/alembic.ini"));
}

}  // namespace
