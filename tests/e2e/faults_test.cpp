// Faults met while the program works on the user's files: a refusal is the exact error line
// alone, every byte the user had on disk stays unless the run was meant to edit it, and no
// temporary file is left in any case.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string kMain = "from fastapi import FastAPI\n\napp = FastAPI()\n";
// A project whose main.py still needs the auto-mount block.
const Tree kProject{{".brintle.json", "{\n  \"source_dir\": \"src\"\n}\n"}, {"src/main.py", kMain}};
const std::string kRegistry = "src/modules/__init__.py";
const std::string kModule = "src/modules/blog_post/";
const std::string kTooLarge = "File too large (os error 27)";
const std::string kIsDir = "Is a directory (os error 21)";
const std::string kTooLong = "File name too long (os error 36)";
const std::string kNotUtf8 = "stream did not contain valid UTF-8";
const std::string kDenied = "Permission denied (os error 13)";
const std::string kFifo = " is a FIFO, not a regular file";
// The user and group 'nobody', who owns nothing and has no privilege.
constexpr uid_t kNobody = 65534;

bool can_run_as_nobody() { return run_program({"true"}, {.run_as = kNobody}).status == 0; }

// `make module` in the project with `changes` over it. Once `locked` is set, every entry is given
// to nobody, who runs it, and that path gets `mode`.
struct Given {
  Tree changes;
  std::vector<std::string> flags = {};
  std::optional<rlim_t> file_size_limit = {};
  std::string dir = {};  ///< the --dir argument, below the test's directory
  std::string locked = {};
  int mode = 0;
  int signal = 0;  ///< sent once the copy of a file is being written
};

// The result, and the entries before and after the run.
std::tuple<RunResult, Tree, Tree> make_module(const fs::path& root, Given s,
                                              const char* name = "BlogPost") {
  s.changes.insert(kProject.begin(), kProject.end());
  make_tree(root, s.changes);
  RunOptions options{.file_size_limit = s.file_size_limit, .time_limit = 60};
  if (!s.locked.empty()) {
    EXPECT_EQ(run_program({"chown", "-hR", "65534:65534", root}).status, 0);
    fs::permissions(root / s.locked, fs::perms(s.mode));
    options.run_as = kNobody;
  }
  if (s.signal != 0) {
    options.signal = s.signal;
    options.signal_when = [&] {
      return std::ranges::any_of(fs::directory_iterator(root / "src"), [](const auto& entry) {
        return entry.path().filename().string().contains(".brintle-");
      });
    };
  }
  const Tree before = snapshot(root);
  std::vector<std::string> args{"make", "module", name, "--dir", root / s.dir};
  args.insert(args.end(), s.flags.begin(), s.flags.end());
  const RunResult result = run_brintle(args, options);
  const Tree after = snapshot(root);
  for (const auto& [path, bytes] : after) EXPECT_FALSE(path.contains(".brintle-")) << path;
  return {result, before, after};
}

// A refusal (status 1) fails at once with its error line alone; a run that succeeds ends its
// report with the line given. "{}" in them stands for the project directory. Entries that are
// not edited keep their bytes; files written before a failure may stay.
TEST(Faults, UsersFilesAreKeptWholeOrEditedWhereTheirBytesAre) {
  std::string registry = "modules = {\n", deep;
  for (int i = 0; i < 600; ++i) registry += fmt::format("  \"m{0}\": \"src.modules.m{0}\",\n", i);
  for (int i = 0; i < 2100; ++i) deep += "d/";
  const Tree dirs{{"src/modules", "<dir>"}, {"src/core", "<dir>"}};
  const std::string created = "[created] {}/src/main.py\n";
  struct Case {
    const char* name;
    Given given;
    std::string line;
    int status = 1;
    std::set<std::string> edited = {};  ///< each ends with the auto-mount block
  };
  const bool nobody = can_run_as_nobody();
  for (const Case& c : std::vector<Case>{
           {"main.py over the size limit",
            {{{"src/main.py", kMain + std::string(65536, '#')}}, {}, 4096}, kTooLarge},
           {"registry over the size limit", {{{kRegistry, registry + "}\n"}}, {}, 4096}, kTooLarge},
           // The router is the first file longer than the limit; the user's own is kept.
           {"forced overwrite over the size limit",
            {{{kModule + "api/router.py", "# mine\n"}}, {"--force"}, 1024}, kTooLarge},
           {"new file over the size limit", {{}, {}, 64}, kTooLarge},
           {"directory at main.py", {{{"src/main.py", "<dir>"}}}, kIsDir},
           {"directory at the registry", {{{kRegistry, "<dir>"}}}, kIsDir},
           {"directory at a module file", {{{kModule + "__init__.py", "<dir>"}}, {"--force"}},
            kIsDir},
           {"main.py links to a directory", {{{"src/main.py", "-> p"}, {"src/p", "<dir>"}}},
            kIsDir},
           {"file at the modules directory", {{{"src/modules", "x\n"}}},
            "Not a directory (os error 20)"},
           {"name too long", {{}, {}, {}, std::string(300, 'n')}, kTooLong},
           {"path too long", {{}, {}, {}, deep}, kTooLong},
           {"main.py not UTF-8", {{{"src/main.py", "app = FastAPI()  # caf\xe9\n"}}}, kNotUtf8},
           {"registry not UTF-8", {{{kRegistry, "modules = {\n}\n# \xff\xfe\n"}}}, kNotUtf8},
           {"FIFO at main.py", {{{"src/main.py", "<fifo>"}}}, "\"{}/src/main.py\"" + kFifo},
           {"main.py links to a device", {{{"src/main.py", "-> /dev/zero"}}},
            "\"{}/src/main.py\" is a character device, not a regular file"},
           {"FIFO at the registry", {{{kRegistry, "<fifo>"}}}, "\"{}/" + kRegistry + "\"" + kFifo},
           {"FIFO at a module file", {{{kModule + "api/router.py", "<fifo>"}}, {"--force"}},
            "\"{}/" + kModule + "api/router.py\"" + kFifo},
           {"read-only modules directory", {dirs, {}, {}, {}, "src/modules", 0555}, kDenied},
           {"read-only main.py", {dirs, {}, {}, {}, "src/main.py", 0444}, kDenied},
           {"unreadable main.py", {dirs, {}, {}, {}, "src/main.py", 0200}, kDenied},
           {"unreadable registry", {{{kRegistry, "modules = {\n}\n"}}, {}, {}, {}, kRegistry, 0200},
            kDenied},
           // A link stays and its target is edited; a dangling one is skipped and stays so.
           {"main.py links to a file",
            {{{"src/main.py", "-> ../entry/main.py"}, {"entry/main.py", kMain}}}, created, 0,
            {"entry/main.py"}},
           {"main.py links to nothing", {{{"src/main.py", "-> gone.py"}}},
            "[skipped] {}/src/main.py\n1 file(s) already exist. Re-run with --force to "
            "overwrite.\n", 0},
           // Where renaming a new main.py over it would not do, it is edited in place.
           {"main.py has a second name", {{{"entry.py", kMain}, {"src/main.py", "=> entry.py"}}},
            created, 0, {"entry.py", "src/main.py"}},
           {"main.py's directory is read-only", {dirs, {}, {}, {}, "src", 0555}, created, 0,
            {"src/main.py"}},
       }) {
    SCOPED_TRACE(c.name);
    if (!c.given.locked.empty() && !nobody) continue;
    TempDir dir;
    const auto [result, before, after] = make_module(dir.path(), c.given);
    const std::string line = fmt::format(fmt::runtime(c.line), dir.path().string());
    if (c.status == 0) {
      EXPECT_EQ(result.err, "");
      EXPECT_TRUE(result.out.ends_with(line)) << ::testing::PrintToString(result);
    } else {
      EXPECT_EQ(result, (RunResult{c.status, "", "error: " + line + "\n"}));
    }
    for (const auto& [path, bytes] : before) {
      if (c.edited.contains(path)) {
        EXPECT_TRUE(after.at(path).ends_with("# --- brintle: end auto-mount ---\n")) << path;
      } else {
        EXPECT_EQ(after.contains(path) ? after.at(path) : "<gone>", bytes) << path;
      }
    }
    EXPECT_FALSE(after.contains("src/gone.py"));
  }
  if (!nobody) GTEST_SKIP() << "cannot run a program as another user here";
}

// Runs started at once in one project take turns: none loses another's registry entry.
TEST(Faults, ConcurrentRunsRegisterEveryModuleAndMountOnce) {
  for (int round = 0; round < 3; ++round) {
    TempDir dir;
    make_tree(dir.path(), kProject);
    const std::string many =
        "seq 16 | xargs -P 16 -I{} \"$0\" make module m{} --dir \"$1\" >/dev/null";
    EXPECT_EQ(run_program({"sh", "-c", many, brintle_path(), dir.path()}), (RunResult{0, "", ""}));
    const std::string registry = read_file(dir.path() / kRegistry);
    for (int i = 1; i <= 16; ++i) {
      EXPECT_TRUE(registry.contains(fmt::format("\"m_{0}\": \"src.modules.m_{0}\"", i))) << i;
    }
    const std::string main = read_file(dir.path() / "src/main.py");
    EXPECT_EQ(main.find("auto-mount (do not"), main.rfind("auto-mount (do not"));
  }
}

// Nothing waits on a FIFO or reads a device without end. A configuration or a docstring that is
// no regular file counts as absent, a core module as present; a file to replace is refused.
TEST(Faults, SpecialFilesAreNeverWaitedOn) {
  TempDir dir;
  const Tree special{{".brintle.json", "<fifo>"},
                     {"src/core/config.py", "<fifo>"},
                     {"src/core/database.py", "-> /dev/zero"},
                     {"src/modules/m/__init__.py", "<fifo>"}};
  EXPECT_EQ(std::get<RunResult>(make_module(dir.path(), {special}, "m")).status, 0);
  const RunOptions limited{.time_limit = 60};
  EXPECT_TRUE(run_brintle({"list", "--dir", dir.path()}, limited)
                  .out.contains("│ m      ┆ src.modules.m ┆             │"));
  EXPECT_EQ(run_brintle({"new", ".", "--force", "--dir", dir.path()}, limited).err,
            fmt::format("error: \"{}/.brintle.json\"{}\n", dir.path().string(), kFifo));
}

// A signal that ends a run while it writes the copy of a large main.py removes the copy, and
// main.py keeps its bytes.
TEST(Faults, InterruptedWriteLeavesNoTemporaryFile) {
  std::string large = kMain;
  for (int i = 0; i < 200000; ++i) large += "# " + std::string(77, 'x') + "\n";
  int interrupted = 0;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    TempDir dir;
    const auto [result, before, after] =
        make_module(dir.path(), {.changes = {{"src/main.py", large}}, .signal = signal}, "m");
    // Done before the signal came is no fault, only no test.
    EXPECT_TRUE(result.status == 0 || result.status == 128 + signal)
        << ::testing::PrintToString(result);
    EXPECT_TRUE(result.status == 0 || after.at("src/main.py") == large);
    interrupted += result.status != 0;
  }
  EXPECT_GT(interrupted, 0);
}

}  // namespace
