#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::run_brintle;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::write_file;

constexpr std::string_view kHandMadeMain =
    "from fastapi import FastAPI\n"
    "\n"
    "app = FastAPI()\n"
    "\n"
    "\n"
    "@app.get(\"/health\")\n"
    "def health() -> dict[str, str]:\n"
    "    return {\"status\": \"ok\"}\n";

// The module's files relative to the project root, in the order the report lists them.
std::vector<std::string> module_files(std::string_view source) {
  const std::string dir = std::string(source) + "/modules/blog_post/";
  return {dir + "__init__.py",
          dir + "api/__init__.py",
          dir + "api/router.py",
          dir + "application/__init__.py",
          dir + "application/schemas.py",
          dir + "application/blog_post_service.py",
          dir + "domain/__init__.py",
          dir + "domain/model.py",
          dir + "domain/repository.py",
          dir + "infrastructure/__init__.py",
          dir + "infrastructure/blog_post_repository.py",
          dir + "tests/conftest.py",
          dir + "tests/test_blog_post.py"};
}

// Everything a fresh run reports after the module's files, in order.
std::vector<std::string> wiring_files(std::string_view source) {
  const std::string s(source);
  return {s + "/core/__init__.py", s + "/core/config.py", s + "/core/database.py",
          s + "/modules/__init__.py", s + "/main.py"};
}

// Report lines "<label> <root>/<path>", one per path.
std::string report(std::string_view label, const fs::path& root,
                   const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& path : paths) {
    out += std::string(label) + " " + (root / path).string() + "\n";
  }
  return out;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Every entry under `root` with the bytes of each regular file, to prove a run left it alone.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    entries[relative] = entry.is_regular_file() ? read_file(entry.path()) : "<dir>";
  }
  return entries;
}

RunResult make_module(const fs::path& root, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"make", "module"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), {"--dir", root.string()});
  return run_brintle(args);
}

class MakeModule : public ::testing::Test {
 protected:
  void SetUp() override { write_file(root() / "src/main.py", std::string(kHandMadeMain)); }
  const fs::path& root() const { return project_.path(); }

 private:
  TempDir project_;
};

TEST_F(MakeModule, FreshProjectCreatesModuleCoreRegistryAndMain) {
  const RunResult result = make_module(root(), {"BlogPost"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            report("[created]", root(), concat(module_files("src"), wiring_files("src"))));

  for (const std::string& path : module_files("src")) {
    SCOPED_TRACE(path);
    const std::string bytes = read_file(root() / path);
    EXPECT_TRUE(bytes.ends_with("\n"));
    EXPECT_FALSE(bytes.ends_with("\n\n"));
  }
  EXPECT_TRUE(read_file(root() / "src/modules/__init__.py")
                  .contains("\n    \"blog_post\": \"src.modules.blog_post\",\n"));
  const std::string main_py = read_file(root() / "src/main.py");
  EXPECT_TRUE(main_py.contains("from src.modules import modules\n"));
  EXPECT_TRUE(main_py.contains("app = FastAPI()\n# --- brintle: auto-mount (do not remove) ---\n"));
}

TEST_F(MakeModule, SecondRunSkipsEverythingAndWarns) {
  ASSERT_EQ(make_module(root(), {"BlogPost"}).status, 0);
  const auto before = snapshot(root());

  const RunResult result = make_module(root(), {"blog post"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> skipped =
      concat(module_files("src"), {"src/modules/__init__.py", "src/main.py"});
  EXPECT_EQ(result.out, report("[skipped]", root(), skipped) +
                            "15 file(s) already exist. Re-run with --force to overwrite.\n");
  EXPECT_EQ(snapshot(root()), before);
}

TEST_F(MakeModule, ForceRewritesTheModuleWithoutWarning) {
  ASSERT_EQ(make_module(root(), {"BlogPost"}).status, 0);
  const fs::path router = root() / "src/modules/blog_post/api/router.py";
  const std::string original = read_file(router);
  write_file(router, "# edited by hand\n");
  fs::remove(root() / "src/modules/blog_post/tests/test_blog_post.py");

  const RunResult result = make_module(root(), {"BlogPost", "--force"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  // The registry and main.py are still reported as skipped, but --force silences the warning.
  EXPECT_EQ(result.out,
            report("[created]", root(), module_files("src")) +
                report("[skipped]", root(), {"src/modules/__init__.py", "src/main.py"}));
  EXPECT_EQ(read_file(router), original);
  EXPECT_TRUE(fs::exists(root() / "src/modules/blog_post/tests/test_blog_post.py"));
}

TEST_F(MakeModule, DryRunTouchesNothing) {
  const auto fresh = snapshot(root());
  RunResult result = make_module(root(), {"BlogPost", "--dry-run"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, report("[dry-run] [dry-run]", root(),
                               concat(module_files("src"), wiring_files("src"))));
  EXPECT_EQ(snapshot(root()), fresh);

  // A dry run never tests for existing module files, but the registry and main.py are
  // still skipped and counted, so the warning comes all the same.
  ASSERT_EQ(make_module(root(), {"BlogPost"}).status, 0);
  const auto made = snapshot(root());
  result = make_module(root(), {"BlogPost", "--dry-run"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            report("[dry-run] [dry-run]", root(), module_files("src")) +
                report("[dry-run] [skipped]", root(), {"src/modules/__init__.py", "src/main.py"}) +
                "2 file(s) already exist. Re-run with --force to overwrite.\n");
  EXPECT_EQ(snapshot(root()), made);
}

TEST_F(MakeModule, WarningIsYellowWhenColourIsForced) {
  ASSERT_EQ(make_module(root(), {"BlogPost"}).status, 0);
  testing_support::RunOptions options;
  options.env["CLICOLOR_FORCE"] = "1";
  const RunResult result =
      run_brintle({"make", "module", "BlogPost", "--dir", root().string()}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.ends_with(
      "\x1b[33m15 file(s) already exist. Re-run with --force to overwrite.\x1b[39m\n"));
}

TEST(MakeModuleSource, AppDirectoryConfiguredOrDetected) {
  struct Case {
    std::string_view name;
    bool configured;
  };
  for (const Case& c : std::initializer_list<Case>{{"configured", true}, {"detected", false}}) {
    SCOPED_TRACE(c.name);
    TempDir project;
    const fs::path& root = project.path();
    write_file(root / "app/main.py", std::string(kHandMadeMain));
    if (c.configured) {
      // The configuration wins over a src/main.py that would otherwise be detected.
      write_file(root / ".brintle.json", "{\n  \"source_dir\": \"app\"\n}\n");
      write_file(root / "src/main.py", std::string(kHandMadeMain));
    }

    const RunResult result = make_module(root, {"BlogPost"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              report("[created]", root, concat(module_files("app"), wiring_files("app"))));
    const std::string router = read_file(root / "app/modules/blog_post/api/router.py");
    EXPECT_TRUE(router.contains("\nfrom app.core.database import get_session\n"));
    EXPECT_FALSE(router.contains("src."));
    EXPECT_TRUE(read_file(root / "app/modules/__init__.py")
                    .contains("\n    \"blog_post\": \"app.modules.blog_post\",\n"));
    EXPECT_FALSE(fs::exists(root / "src/modules"));
  }
}

TEST(MakeModuleNames, RefusedBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::string> feature_args;
    std::string_view error_line;
  };
  const std::vector<Case> cases = {
      {{"--", "---"}, "error: invalid feature name \"---\": it has no ASCII letter or digit\n"},
      {{"é"}, "error: invalid feature name \"é\": it has no ASCII letter or digit\n"},
      {{"2fa"},
       "error: invalid module name \"2_fa\": a Python module name cannot start with a digit\n"},
      {{"class"}, "error: invalid module name \"class\": it is a Python keyword\n"},
      {{"Import"}, "error: invalid module name \"import\": it is a Python keyword\n"},
      {{"none"},
       "error: invalid module name \"none\": its class name \"None\" is a Python keyword\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.feature_args.back());
    TempDir project;
    write_file(project.path() / "src/main.py", std::string(kHandMadeMain));
    const auto before = snapshot(project.path());
    std::vector<std::string> args = {"make", "module", "--dir", project.path().string()};
    args.insert(args.end(), c.feature_args.begin(), c.feature_args.end());
    const RunResult result = run_brintle(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.error_line);
    EXPECT_EQ(snapshot(project.path()), before);
  }
}

TEST(MakeModuleNewProject, OnlyMainIsSkippedAndCounted) {
  TempDir parent;
  ASSERT_EQ(run_brintle({"new", "shop", "--dir", parent.path().string()}).status, 0);
  const fs::path root = parent.path() / "shop";

  const RunResult result = make_module(root, {"BlogPost"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, report("[created]", root,
                               concat(module_files("src"), {"src/modules/__init__.py"})) +
                            report("[skipped]", root, {"src/main.py"}) +
                            "1 file(s) already exist. Re-run with --force to overwrite.\n");
}

}  // namespace
