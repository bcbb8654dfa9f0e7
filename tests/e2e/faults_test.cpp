// Faults met while the program works on the user's files: every case checks the status, the
// exact error line, that no byte the user had on disk changed and that no temporary file stayed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>

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
const std::string kFifo = " is a FIFO, not a regular file";
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

void give_to_nobody(const fs::path& root) {
  ASSERT_EQ(::lchown(root.c_str(), kNobody.uid, kNobody.gid), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), kNobody.uid, kNobody.gid), 0);
  }
}

bool can_run_as_nobody() {
  return testing_support::run_program({"true"}, {.run_as = kNobody}).status == 0;
}

// `make module BlogPost` fails with the error line alone ("{}" in it stands for the project
// directory) and without waiting on anything; every entry that was there keeps its bytes (files
// written before the failure may stay) and no temporary file is left.
void expect_refused(const Fault& f) {
  SCOPED_TRACE(f.name);
  TempDir dir;
  testing_support::make_tree(dir.path(), project(f.changes));
  RunOptions options{.file_size_limit = f.file_size_limit, .time_limit = 60};
  if (!f.locked.empty()) {
    give_to_nobody(dir.path());
    fs::permissions(dir.path() / f.locked, f.mode);
    options.run_as = kNobody;
  }
  const Tree before = snapshot(dir.path());
  std::vector<std::string> args{"make", "module", "BlogPost", "--dir", dir.path() / f.dir};
  args.insert(args.end(), f.flags.begin(), f.flags.end());
  const std::string error = fmt::format(fmt::runtime(f.error), dir.path().string());
  EXPECT_EQ(run_brintle(args, options), (RunResult{1, "", "error: " + error + "\n"}));
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
           {"FIFO at main.py", {{"src/main.py", "<fifo>"}}, "\"{}/src/main.py\"" + kFifo},
           {"main.py links to a device", {{"src/main.py", "-> /dev/zero"}},
            "\"{}/src/main.py\" is a character device, not a regular file"},
           {"FIFO at the registry", {{kRegistry, "<fifo>"}}, "\"{}/" + kRegistry + "\"" + kFifo},
           {"FIFO at a module file", {{module_dir + "api/router.py", "<fifo>"}},
            "\"{}/" + module_dir + "api/router.py\"" + kFifo, {"--force"}},
       }) {
    expect_refused(f);
  }
}

TEST(FaultsE2e, UnprivilegedUserIsRefusedAndNothingChanges) {
  if (!can_run_as_nobody()) GTEST_SKIP() << "cannot run a program as another user here";
  const Tree dirs{{"src/modules", "<dir>"}, {"src/core", "<dir>"}};
  using Case = std::tuple<const char*, Tree, std::string, int>;  // and the path locked, its mode
  for (const auto& [name, changes, locked, mode] : std::vector<Case>{
           {"read-only modules directory", dirs, "src/modules", 0555},
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

// main.py stays the same file where renaming a new one over it would not do: another name
// shares it, or its directory may not be written. It is edited in place, by a plain user.
TEST(FaultsE2e, MainPyThatCannotBeRenamedOverIsEditedInPlace) {
  if (!can_run_as_nobody()) GTEST_SKIP() << "cannot run a program as another user here";
  for (const bool hard_link : {true, false}) {
    SCOPED_TRACE(hard_link ? "second hard link" : "read-only directory");
    TempDir dir;
    testing_support::make_tree(dir.path(),
                               project({{"src/modules", "<dir>"}, {"src/core", "<dir>"}}));
    if (hard_link) fs::create_hard_link(dir.path() / "src/main.py", dir.path() / "entry.py");
    give_to_nobody(dir.path());
    if (!hard_link) fs::permissions(dir.path() / "src", fs::perms(0555));
    const RunResult result =
        run_brintle({"make", "module", "BlogPost", "--dir", dir.path()}, {.run_as = kNobody});
    EXPECT_EQ(result.status, 0) << result.err;
    const Tree after = snapshot(dir.path());
    EXPECT_TRUE(after.at("src/main.py").ends_with("# --- brintle: end auto-mount ---\n"));
    EXPECT_EQ(fs::hard_link_count(dir.path() / "src/main.py"), hard_link ? 2u : 1u);
    EXPECT_EQ(after.at(hard_link ? "entry.py" : "src/main.py"), after.at("src/main.py"));
    expect_no_temporary_file(after);
  }
}

// Runs started at once in one project take turns: none loses another's registry entry.
TEST(FaultsE2e, ConcurrentRunsRegisterEveryModuleAndMountOnce) {
  for (int round = 0; round < 3; ++round) {
    TempDir dir;
    testing_support::make_tree(dir.path(), project({}));
    const std::string many =
        "seq 16 | xargs -P 16 -I{} \"$0\" make module m{} --dir \"$1\" >/dev/null";
    EXPECT_EQ(testing_support::run_program(
                  {"sh", "-c", many, testing_support::brintle_path(), dir.path()}),
              (RunResult{0, "", ""}));
    const std::string registry = testing_support::read_file(dir.path() / kRegistry);
    for (int i = 1; i <= 16; ++i) {
      EXPECT_TRUE(registry.contains(fmt::format("\"m_{0}\": \"src.modules.m_{0}\"", i))) << i;
    }
    const std::string main = testing_support::read_file(dir.path() / "src/main.py");
    EXPECT_EQ(main.find("auto-mount (do not"), main.rfind("auto-mount (do not"));
  }
}

// Nothing waits on a FIFO or reads a device without end. A configuration or a docstring that is
// no regular file counts as absent, a core module as present; a file to replace is refused.
TEST(FaultsE2e, SpecialFilesAreNeverWaitedOn) {
  TempDir dir;
  testing_support::make_tree(dir.path(), project({{".brintle.json", "<fifo>"},
                                                  {"src/core/config.py", "<fifo>"},
                                                  {"src/core/database.py", "-> /dev/zero"},
                                                  {"src/modules/m/__init__.py", "<fifo>"}}));
  const RunOptions limited{.time_limit = 60};
  EXPECT_EQ(run_brintle({"make", "module", "m", "--dir", dir.path()}, limited).status, 0);
  EXPECT_TRUE(run_brintle({"list", "--dir", dir.path()}, limited)
                  .out.contains("│ m      ┆ src.modules.m ┆             │"));
  EXPECT_EQ(run_brintle({"new", ".", "--force", "--dir", dir.path()}, limited).err,
            fmt::format("error: \"{}/.brintle.json\"{}\n", dir.path().string(), kFifo));
}

// A signal that ends a run while it writes the copy of a large main.py removes the copy, and
// main.py keeps its bytes.
TEST(FaultsE2e, InterruptedWriteLeavesNoTemporaryFile) {
  std::string large = kMain;
  for (int i = 0; i < 200000; ++i) large += "# " + std::string(77, 'x') + "\n";
  int interrupted = 0;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      SCOPED_TRACE(signal);
      TempDir dir;
      testing_support::make_tree(dir.path(), project({{"src/main.py", large}}));
      const int status = testing_support::run_until(
          {testing_support::brintle_path(), "make", "module", "m", "--dir", dir.path()}, signal,
          [&] {
            return std::ranges::any_of(fs::directory_iterator(dir.path() / "src"), [](auto& e) {
              return e.path().filename().string().contains(".brintle-");
            });
          });
      // Done before the signal came is no fault, only no test.
      EXPECT_TRUE(status == 0 || status == 128 + signal) << status;
      const Tree after = snapshot(dir.path());
      expect_no_temporary_file(after);
      EXPECT_TRUE(status == 0 || after.at("src/main.py") == large);
      interrupted += status != 0;
    }
  }
  EXPECT_GT(interrupted, 0);
}

}  // namespace
