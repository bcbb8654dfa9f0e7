// Faults met while the program works on the user's files: every case checks the status, the
// exact error line, that no byte the user had on disk changed and that no temporary file stayed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::run_brintle;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::snapshot;
using testing_support::TempDir;
using testing_support::Tree;

const std::string kMain = "from fastapi import FastAPI\n\napp = FastAPI()\n";
const std::string kRegistry = "src/modules/__init__.py";
const std::string kTooLarge = "File too large (os error 27)";
const std::string kIsDir = "Is a directory (os error 21)";
const std::string kNotDir = "Not a directory (os error 20)";
const std::string kTooLong = "File name too long (os error 36)";
const std::string kNotUtf8 = "stream did not contain valid UTF-8";
const std::string kDenied = "Permission denied (os error 13)";
// The user and group 'nobody', who owns nothing and has no privilege.
constexpr testing_support::RunAs kNobody{65534, 65534};

// A project whose main.py still needs the auto-mount block, with `changes` over it.
Tree project(Tree changes) {
  changes.insert({{".brintle.json", "{\n  \"source_dir\": \"src\"\n}\n"}, {"src/main.py", kMain}});
  return changes;
}

void expect_no_temporary_file(const Tree& tree) {
  for (const auto& [path, bytes] : tree) EXPECT_FALSE(path.contains(".brintle-")) << path;
}

struct Fault {
  const char* name;
  Tree changes;  ///< over the project
  std::string error;
  std::vector<std::string> flags = {};
  std::optional<rlim_t> file_size_limit = {};
  std::string dir = {};     ///< the --dir argument, below the test's directory
  std::string locked = {};  ///< set: all is nobody's, this path gets `mode`, nobody runs it
  fs::perms mode = {};
};

// `make module BlogPost` fails with the error line alone; every entry that was there keeps its
// bytes (files written before the failure may stay) and no temporary file is left.
void expect_refused(const Fault& f) {
  SCOPED_TRACE(f.name);
  TempDir dir;
  testing_support::make_tree(dir.path(), project(f.changes));
  RunOptions options{.file_size_limit = f.file_size_limit};
  if (!f.locked.empty()) {
    ASSERT_EQ(::lchown(dir.path().c_str(), kNobody.uid, kNobody.gid), 0);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), kNobody.uid, kNobody.gid), 0);
    }
    fs::permissions(dir.path() / f.locked, f.mode);
    options.run_as = kNobody;
  }
  const Tree before = snapshot(dir.path());
  std::vector<std::string> args{"make", "module", "BlogPost", "--dir", dir.path() / f.dir};
  args.insert(args.end(), f.flags.begin(), f.flags.end());
  EXPECT_EQ(run_brintle(args, options), (RunResult{1, "", "error: " + f.error + "\n"}));
  const Tree after = snapshot(dir.path());
  for (const auto& [path, bytes] : before) {
    EXPECT_EQ(after.contains(path) ? after.at(path) : "<gone>", bytes) << path;
  }
  expect_no_temporary_file(after);
}

TEST(FaultsE2e, EachFaultLeavesTheUsersFilesWhole) {
  std::string registry = "modules = {\n", deep;
  for (int i = 0; i < 600; ++i) registry += fmt::format("  \"m{0}\": \"src.modules.m{0}\",\n", i);
  for (int i = 0; i < 2100; ++i) deep += "d/";
  const std::string module_dir = "src/modules/blog_post/";
  for (const Fault& f : std::vector<Fault>{
           {"main.py over the size limit", {{"src/main.py", kMain + std::string(65536, '#')}},
            kTooLarge, {}, 4096},
           {"registry over the size limit", {{kRegistry, registry + "}\n"}}, kTooLarge, {}, 4096},
           // The router is the first file longer than the limit; the user's own is kept.
           {"forced overwrite over the size limit", {{module_dir + "api/router.py", "# mine\n"}},
            kTooLarge, {"--force"}, 1024},
           {"new file over the size limit", {}, kTooLarge, {}, 64},
           {"directory at main.py", {{"src/main.py", "<dir>"}}, kIsDir},
           {"directory at the registry", {{kRegistry, "<dir>"}}, kIsDir},
           {"directory at a module file", {{module_dir + "__init__.py", "<dir>"}}, kIsDir,
            {"--force"}},
           {"main.py links to a directory", {{"src/main.py", "-> p"}, {"src/p", "<dir>"}}, kIsDir},
           {"file at the modules directory", {{"src/modules", "x\n"}}, kNotDir},
           {"name too long", {}, kTooLong, {}, {}, std::string(300, 'n')},
           {"path too long", {}, kTooLong, {}, {}, deep},
           {"main.py not UTF-8", {{"src/main.py", "app = FastAPI()  # caf\xe9\n"}}, kNotUtf8},
           {"registry not UTF-8", {{kRegistry, "modules = {\n}\n# \xff\xfe\n"}}, kNotUtf8},
       }) {
    expect_refused(f);
  }
}

TEST(FaultsE2e, UnprivilegedUserIsRefusedAndNothingChanges) {
  if (testing_support::run_program({"true"}, {.run_as = kNobody}).status != 0) {
    GTEST_SKIP() << "cannot run a program as another user here";
  }
  const Tree dirs{{"src/modules", "<dir>"}, {"src/core", "<dir>"}};
  using Case = std::tuple<const char*, Tree, std::string, int>;  // and the path locked, its mode
  for (const auto& [name, changes, locked, mode] : std::vector<Case>{
           {"read-only modules directory", dirs, "src/modules", 0555},
           // Everything else is written; main.py cannot be replaced in a read-only directory.
           {"main.py in a read-only directory", dirs, "src", 0555},
           {"read-only main.py", dirs, "src/main.py", 0444},
           {"unreadable main.py", dirs, "src/main.py", 0200},
           {"unreadable registry", {{kRegistry, "modules = {\n}\n"}}, kRegistry, 0200},
       }) {
    expect_refused({name, changes, kDenied, {}, {}, {}, locked, fs::perms(mode)});
  }
}

TEST(FaultsE2e, MainPyLinkIsEditedThroughAndKeptOrSkippedWhenDangling) {
  for (const std::string link : {"-> ../entry/main.py", "-> gone.py"}) {
    SCOPED_TRACE(link);
    const bool dangling = link == "-> gone.py";
    TempDir dir;
    const Tree tree = project({{"src/main.py", link}, {"entry/main.py", kMain}});
    testing_support::make_tree(dir.path(), tree);
    fs::permissions(dir.path() / "entry/main.py", fs::perms(0640));
    const RunResult result = run_brintle({"make", "module", "BlogPost", "--dir", dir.path()});
    const std::string main = (dir.path() / "src/main.py").string();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out.ends_with(dangling ? "[skipped] " + main +
                                                    "\n1 file(s) already exist. Re-run with "
                                                    "--force to overwrite.\n"
                                              : "[created] " + main + "\n"))
        << result.out;
    const Tree after = snapshot(dir.path());
    EXPECT_EQ(after.at("src/main.py"), link);
    EXPECT_FALSE(after.contains("src/gone.py"));
    EXPECT_EQ(after.at("entry/main.py").contains("# --- brintle: auto-mount"), !dangling);
    EXPECT_EQ(fs::status(dir.path() / "entry/main.py").permissions(), fs::perms(0640));
    expect_no_temporary_file(after);
  }
}

}  // namespace
