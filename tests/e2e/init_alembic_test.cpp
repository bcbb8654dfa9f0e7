#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::run_brintle;
using testing_support::run_program;
using testing_support::RunOptions;
using testing_support::TempDir;
using testing_support::write_file;

constexpr std::string_view kNextSteps =
    "Next steps:\n"
    "  1. Add the dependency:  uv add alembic\n"
    "  2. Apply the baseline:   uv run alembic upgrade head\n"
    "  3. After model changes:  uv run alembic revision --autogenerate -m '<message>' && uv run "
    "alembic upgrade head\n"
    "  If the DB was already created without Alembic (create_all), adopt it with `uv run alembic "
    "stamp head`,\n"
    "  or delete the dev DB and re-create it via steps 2-3.";

constexpr std::string_view kFiles[] = {"alembic.ini", "migrations/env.py",
                                       "migrations/script.py.mako",
                                       "migrations/versions/0001_initial.py"};

// The report lines for the four files under `base`, each with `label` in front.
std::string report(std::string_view label, std::string_view base) {
  std::string out;
  for (std::string_view file : kFiles) out += std::string(label) + " " + std::string(base) + "/" +
                                              std::string(file) + "\n";
  return out;
}

std::string next_steps() { return std::string(kNextSteps) + "\n"; }

RunOptions in(const fs::path& cwd) {
  RunOptions options;
  options.cwd = cwd;
  return options;
}

void expect_python_parses(const fs::path& file) {
  const auto result = run_program(
      {"python3", "-c", "import ast,sys; ast.parse(open(sys.argv[1]).read())", file.string()});
  EXPECT_EQ(result.status, 0) << file << "\n" << result.err;
}

TEST(InitAlembic, NextStepsTextIsExact) {
  EXPECT_EQ(kNextSteps.size(), 379u);
  EXPECT_EQ(std::ranges::count(kNextSteps, '\n'), 5);
}

TEST(InitAlembic, FreshProject) {
  TempDir dir;
  const auto result = run_brintle({"init", "alembic", "--dir", "shop"}, in(dir.path()));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, report("[created]", "shop") + next_steps());
  EXPECT_EQ(result.err, "");

  const fs::path root = dir.path() / "shop";
  for (std::string_view file : kFiles) {
    SCOPED_TRACE(file);
    const std::string text = read_file(root / file);
    EXPECT_TRUE(text.ends_with("\n") && !text.ends_with("\n\n"));
  }
  // No configuration and no src/main.py: the source is "app".
  EXPECT_NE(read_file(root / "migrations/env.py").find("from app.modules import modules\n"),
            std::string::npos);
  EXPECT_TRUE(std::regex_search(read_file(root / "migrations/versions/0001_initial.py"),
                                std::regex("\nCreate Date: \\d{4}-\\d\\d-\\d\\d "
                                           "\\d\\d:\\d\\d:\\d\\d\n\n\"\"\"\n")));
  // The revision template is Mako, not Python; Alembic renders it into Python later.
  for (std::string_view file : {"migrations/env.py", "migrations/versions/0001_initial.py"}) {
    expect_python_parses(root / file);
  }
}

TEST(InitAlembic, SecondRunSkipsEverythingAndKeepsTheBaseline) {
  TempDir dir;
  ASSERT_EQ(run_brintle({"init", "alembic", "-d", "shop"}, in(dir.path())).status, 0);
  const fs::path baseline = dir.path() / "shop/migrations/versions/0001_initial.py";
  const std::string first = read_file(baseline);
  write_file(dir.path() / "shop/alembic.ini", "[alembic]\n");

  const auto result = run_brintle({"init", "alembic", "-d", "shop"}, in(dir.path()));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, report("[skipped]", "shop") + next_steps());
  EXPECT_EQ(read_file(baseline), first);
  EXPECT_EQ(read_file(dir.path() / "shop/alembic.ini"), "[alembic]\n");
}

TEST(InitAlembic, DryRunWritesNothing) {
  TempDir dir;
  const auto result =
      run_brintle({"init", "alembic", "--dry-run", "--dir", "shop"}, in(dir.path()));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, report("[dry-run] [dry-run]", "shop") + next_steps());
  EXPECT_FALSE(fs::exists(dir.path() / "shop"));

  // Over an existing project the dry run still lists every file as a dry run.
  write_file(dir.path() / "shop/alembic.ini", "mine\n");
  const auto again =
      run_brintle({"init", "alembic", "--dry-run", "--dir", "shop"}, in(dir.path()));
  EXPECT_EQ(again.out, report("[dry-run] [dry-run]", "shop") + next_steps());
  EXPECT_EQ(read_file(dir.path() / "shop/alembic.ini"), "mine\n");
  EXPECT_FALSE(fs::exists(dir.path() / "shop/migrations"));
}

TEST(InitAlembic, CurrentDirectoryBecomesAbsolute) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"init", "alembic"},
        std::vector<std::string>{"init", "alembic", "--dir", "."},
        std::vector<std::string>{"init", "alembic", "--dir", "./"}}) {
    SCOPED_TRACE(args.size() == 2 ? "no --dir" : args.back());
    TempDir dir;
    const std::string cwd = fs::canonical(dir.path()).string();
    const auto result = run_brintle(args, in(dir.path()));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, report("[created]", cwd) + next_steps());
    EXPECT_TRUE(fs::exists(dir.path() / "alembic.ini"));
  }
}

TEST(InitAlembic, RelativeDirStaysRelative) {
  TempDir dir;
  fs::create_directories(dir.path() / "work");
  const auto result = run_brintle({"init", "alembic", "--dir", "../shop"}, in(dir.path() / "work"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, report("[created]", "../shop") + next_steps());
  EXPECT_TRUE(fs::exists(dir.path() / "shop/migrations/env.py"));
}

TEST(InitAlembic, ConfiguredSourceDirectory) {
  TempDir dir;
  const fs::path root = dir.path() / "shop";
  write_file(root / ".brintle.json", "{\"source_dir\": \"app\"}\n");
  write_file(root / "src/main.py", "");
  const auto result = run_brintle({"init", "alembic", "--dir", "shop"}, in(dir.path()));
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string env = read_file(root / "migrations/env.py");
  for (std::string_view line : {"from app.core.config import settings\n",
                                "from app.core.database import Base\n",
                                "from app.modules import modules\n"}) {
    EXPECT_NE(env.find(line), std::string::npos) << line;
  }
  EXPECT_NE(read_file(root / "alembic.ini").find("# sqlalchemy.url is injected at runtime from "
                                                 "app.core.config in migrations/env.py\n"),
            std::string::npos);
}

TEST(InitAlembic, DetectedSrcLayout) {
  TempDir dir;
  write_file(dir.path() / "src/main.py", "");
  const auto result = run_brintle({"init", "alembic", "--dir", "."}, in(dir.path()));
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string env = read_file(dir.path() / "migrations/env.py");
  EXPECT_NE(env.find("from src.core.database import Base\n"), std::string::npos);
}

TEST(InitAlembic, FileSystemErrorsEndWithTheErrorLine) {
  struct Case {
    std::string dir;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {"plain.txt/shop", "error: Not a directory (os error 20)\n"},
           {"plain.txt", "error: Not a directory (os error 20)\n"},
       }) {
    SCOPED_TRACE(c.dir);
    TempDir dir;
    write_file(dir.path() / "plain.txt", "keep me\n");
    const auto result = run_brintle({"init", "alembic", "--dir", c.dir}, in(dir.path()));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(read_file(dir.path() / "plain.txt"), "keep me\n");
  }
}

TEST(InitAlembic, FailurePartWayKeepsWrittenFilesAndPrintsNoReport) {
  TempDir dir;
  write_file(dir.path() / "shop/migrations", "a file\n");
  const auto result = run_brintle({"init", "alembic", "--dir", "shop"}, in(dir.path()));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "error: Not a directory (os error 20)\n");
  EXPECT_TRUE(fs::exists(dir.path() / "shop/alembic.ini"));
}

TEST(InitAlembic, ColourWrapsTheWholeNextStepsText) {
  TempDir dir;
  RunOptions options = in(dir.path());
  options.env["CLICOLOR_FORCE"] = "1";
  const auto result = run_brintle({"init", "alembic", "--dir", "shop"}, options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.out.ends_with("\x1b[36m" + std::string(kNextSteps) + "\x1b[39m\n"))
      << result.out;
  EXPECT_TRUE(result.out.starts_with("\x1b[32m[created]\x1b[39m shop/alembic.ini\n"))
      << result.out;
}

TEST(InitAlembic, ForceIsAUsageError) {
  TempDir dir;
  const auto result = run_brintle({"init", "alembic", "--force"}, in(dir.path()));
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(fs::exists(dir.path() / "alembic.ini"));
}

}  // namespace
