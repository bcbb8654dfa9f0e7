// Faults that need more than a data case (tests/cases/faults.txt) can give: another user, runs
// at once, signals, and runs held at a system call. A refusal is the exact error line alone,
// every byte the user had on disk stays unless the run was meant to edit it, and no temporary
// file is left in any case.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string kMain = "from fastapi import FastAPI\n\napp = FastAPI()\n";
// A project whose main.py still needs the auto-mount block.
const Tree kProject{{".brintle.json", "{\n  \"source_dir\": \"src\"\n}\n"}, {"src/main.py", kMain}};
const std::string kRegistry = "src/modules/__init__.py";

// `make module <name>` in the project at `root`, with the entries before and after the run.
RunResult make_module(const fs::path& root, const char* name, RunOptions options, Tree& before,
                      Tree& after, bool force = false) {
  options.time_limit = 60;
  before = snapshot(root);
  std::vector<std::string> args{"make", "module", name, "--dir", root};
  if (force) args.push_back("--force");
  const RunResult result = run_brintle(args, options);
  after = snapshot(root);
  for (const auto& [path, bytes] : after) EXPECT_FALSE(path.contains(".brintle-")) << path;
  return result;
}

// Run as nobody, who owns the project and has no privilege, with one entry's mode changed: a
// refusal changes nothing, and a main.py that cannot be replaced is edited in place. A file with
// a second name, overwritten with --force, is rewritten in place only where it can be read. A
// project directory that can be written but not read cannot be locked, so nothing is written.
TEST(Faults, EntriesTheUserMayNotReadOrWrite) {
  constexpr uid_t kNobody = 65534;
  if (run_program({"true"}, {.run_as = kNobody}).status != 0) {
    GTEST_SKIP() << "cannot run a program as another user here";
  }
  const std::string denied = "error: Permission denied (os error 13)\n";
  const std::string unlockable =
      "error: directory \"{}\" cannot be locked: Permission denied (os error 13)\n";
  const std::string router = "src/modules/blog_post/api/router.py";
  const std::string kept_back =
      "error: cannot keep the old bytes of \"{}/" + router +
      "\" while it is rewritten in place: Permission denied (os error 13)\n";
  struct Case {
    std::string path;
    int mode;
    std::string err;
    bool second_name = false;
  };
  for (const Case& c : std::vector<Case>{{"src/modules", 0555, denied},
                                         {"src/main.py", 0444, denied},
                                         {"src/main.py", 0200, denied},
                                         {kRegistry, 0200, denied},
                                         {"src", 0555, ""},
                                         {".", 0333, unlockable},
                                         {router, 0200, kept_back, true}}) {
    SCOPED_TRACE(fmt::format("{} {:o}", c.path, c.mode));
    TempDir dir;
    Tree project = kProject, before, after;
    project.insert({{"src/core", "<dir>"}, {"src/modules", "<dir>"}});
    if (c.path == kRegistry) project[kRegistry] = "modules = {\n}\n";
    if (c.second_name) project.insert({{c.path, "# mine\n"}, {"src/second.py", "=> " + c.path}});
    make_tree(dir.path(), project);
    EXPECT_EQ(run_program({"chown", "-hR", "65534:65534", dir.path()}).status, 0);
    fs::permissions(dir.path() / c.path, fs::perms(c.mode));
    const RunResult result =
        make_module(dir.path(), "BlogPost", {.run_as = kNobody}, before, after, c.second_name);
    EXPECT_EQ(result.err, fmt::format(fmt::runtime(c.err), dir.path().string()));
    EXPECT_EQ(result.status, c.err.empty() ? 0 : 1);
    if (c.err.empty()) {
      EXPECT_TRUE(after.at("src/main.py").ends_with("# --- brintle: end auto-mount ---\n"));
      after["src/main.py"] = before["src/main.py"];
    }
    // Files written before a failure may stay.
    std::erase_if(after, [&](const auto& entry) { return !before.contains(entry.first); });
    EXPECT_EQ(after, before);
  }
}

// Runs started at once on one project take turns, however each spells its directory: none loses
// another's registry entry, a file that any of them finds missing is created by one alone, and
// of two new projects at one place one is refused whole.
TEST(Faults, ConcurrentRunsTakeTurns) {
  const std::string new_project =
      R"(if [ $((i % 2)) = 0 ]; then "$0" new shop --dir "$1"; else "$0" new . --dir "$1/shop"; fi)";
  struct Case {
    std::string run;  // one of the runs; $i is its number
    bool registers;   // whether the runs each add a module
    Tree given;
  };
  for (const Case& c : std::vector<Case>{
           {R"("$0" make module m$i --dir "$1")", true, kProject},
           {R"("$0" init alembic --dir "$1")", false, kProject},
           {new_project, false, {{"shop", "<dir>"}}},
           {new_project, false, {}}}) {
    SCOPED_TRACE(c.run);
    for (int round = 0; round < 3; ++round) {
      TempDir dir;
      make_tree(dir.path(), c.given);
      const std::string many = "for i in $(seq 16); do " + c.run + " & done; wait";
      const RunResult result = run_program({"sh", "-c", many, brintle_path(), dir.path()},
                                           {.time_limit = 60});
      std::istringstream lines(result.out);
      std::set<std::string> created;
      for (std::string line; std::getline(lines, line);) {
        if (!c.registers && line.starts_with("[created]")) {
          EXPECT_TRUE(created.insert(line).second) << line;
        }
      }
      EXPECT_NE(created.empty(), !c.registers);
      if (!c.registers) continue;
      const std::string registry = read_file(dir.path() / kRegistry);
      for (int i = 1; i <= 16; ++i) {
        EXPECT_TRUE(registry.contains(fmt::format("\"m_{0}\": \"src.modules.m_{0}\"", i))) << i;
      }
      const std::string main = read_file(dir.path() / "src/main.py");
      EXPECT_EQ(main.find("auto-mount (do not"), main.rfind("auto-mount (do not"));
    }
  }
}

// Whether the program can be held and watched under strace. Only a plain build is: a sanitized
// one's runtime makes system calls of its own where the tests hold the program, and its leak
// check cannot run in a traced process.
bool strace_runs() {
#ifdef __SANITIZE_ADDRESS__
  return false;
#else
  return run_program({"strace", "-o", "/dev/null", "true"}).status == 0;
#endif
}

// A run into a project directory that does not exist yet makes it and locks it first: one that
// starts while the first is held just after taking its lock waits for that same directory.
TEST(Faults, ARunIntoAMissingDirectoryLocksItFirst) {
  if (!strace_runs()) GTEST_SKIP() << "the program is not traced in this build";
  const std::string held =
      R"(strace -o "$1/trace" -e trace=flock -e inject=flock:delay_exit=2000000:when=1)"
      R"( "$0" make module a --dir "$1/nd/proj" >/dev/null &)"
      R"( until grep -qs DELAYED "$1/trace"; do sleep 0.01; done;)"
      R"( "$0" make module b --dir "$1/nd/proj" >/dev/null && wait $!)";
  TempDir dir;
  make_tree(dir.path(), {{"nd", "<dir>"}});
  const RunResult result =
      run_program({"sh", "-c", held, brintle_path(), dir.path()}, {.time_limit = 60});
  const std::string waited = fmt::format(
      "Directory \"{}/nd/proj\" is locked by another process; waiting up to 30 seconds...\n",
      dir.path().native());
  EXPECT_EQ(result, (RunResult{0, "", waited}));
  const std::string registry = read_file(dir.path() / "nd/proj/app/modules/__init__.py");
  EXPECT_TRUE(registry.contains("\"a\": ") && registry.contains("\"b\": ")) << registry;
}

// A link to a device wherever the program reads (.brintle.json, the registry, main.py, a core
// module, a module's docstring) is looked at and never opened, since opening some devices acts
// on them: no open in the run's trace reaches the device.
TEST(Faults, ADeviceThatIsReadIsNeverOpened) {
  if (!strace_runs()) GTEST_SKIP() << "the program is not traced in this build";
  const std::string device = "-> /dev/zero";
  struct Case {
    std::vector<std::string> args;
    Tree given;
    int status;
  };
  for (const Case& c : std::vector<Case>{
           {{"list"},
            {{".brintle.json", device},
             {kRegistry, "modules = {\n    \"m\": \"src.modules.m\",\n}\n"},
             {"src/modules/m/__init__.py", device}},
            0},
           {{"make", "module", "m"}, {{kRegistry, device}}, 1},
           {{"make", "module", "m"},
            {{"src/core/config.py", device}, {"src/main.py", device}},
            1}}) {
    SCOPED_TRACE(c.given.begin()->first);
    TempDir dir, traces;
    Tree project = kProject;
    for (const auto& [path, entry] : c.given) project[path] = entry;
    make_tree(dir.path(), project);
    const fs::path trace = traces.path() / "trace";
    std::vector<std::string> argv{"strace", "-y", "-e", "trace=/^open", "-o", trace,
                                  brintle_path()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {"--dir", dir.path()});
    EXPECT_EQ(run_program(argv, {.time_limit = 60}).status, c.status);
    EXPECT_FALSE(read_file(trace).contains("</dev/zero>")) << read_file(trace);
  }
}

// What the open meets must be the very file looked at before it: one swapped in meanwhile (here
// while the run is held just after the look) is not read, and neither is a device swapped in.
TEST(Faults, AFileSwappedInBeforeItIsOpenedIsNotRead) {
  if (!strace_runs()) GTEST_SKIP() << "the program is not traced in this build";
  const std::string held =
      R"(strace -o "$1/trace" -P "$1/p/src/modules/m/__init__.py" -e trace=/stat)"
      R"( -e inject=/stat:delay_exit=2000000:when=1 "$0" list --dir "$1/p" &)"
      R"( until grep -qs DELAYED "$1/trace"; do sleep 0.01; done;)"
      R"( mv "$1/swapped.py" "$1/p/src/modules/m/__init__.py" && wait $!)";
  TempDir dir;
  make_tree(dir.path(), {{"p/src/main.py", kMain},
                         {"p/" + kRegistry, "modules = {\n    \"m\": \"src.modules.m\",\n}\n"},
                         {"p/src/modules/m/__init__.py", "\"\"\"Looked at.\"\"\"\n"},
                         {"swapped.py", "\"\"\"Swapped in.\"\"\"\n"}});
  const RunResult result =
      run_program({"sh", "-c", held, brintle_path(), dir.path()}, {.time_limit = 60});
  EXPECT_EQ(result, (RunResult{0,
                               "Registered modules\n"
                               "┌────────┬───────────────┬─────────────┐\n"
                               "│ module ┆ path          ┆ description │\n"
                               "╞════════╪═══════════════╪═════════════╡\n"
                               "│ m      ┆ src.modules.m ┆             │\n"
                               "└────────┴───────────────┴─────────────┘\n",
                               ""}));
}

// A project that another process holds locked is named at once on standard error; the run waits
// for it, and after 30 seconds gives up with nothing written.
TEST(Faults, ABusyProjectIsNamedAndWaitedForAtMost30Seconds) {
  // Locked through descriptor 9, which the run inherits but which is no lock of its own.
  const std::string held =
      R"(exec 9<"$1" && flock 9 && { [ "$2" = 0 ] || { (sleep 1; flock -u 9) & }; } &&)"
      R"( exec "$0" make module m --dir "$1" >/dev/null)";
  for (const bool released : {true, false}) {
    TempDir dir;
    make_tree(dir.path(), kProject);
    const Tree before = snapshot(dir.path());
    const RunResult result = run_program(
        {"sh", "-c", held, brintle_path(), dir.path(), released ? "1" : "0"}, {.time_limit = 60});
    const std::string locked =
        fmt::format("\"{}\" is locked by another process", dir.path().native());
    std::string err = fmt::format("Directory {}; waiting up to 30 seconds...\n", locked);
    if (!released) err += fmt::format("error: directory {}; gave up after 30 seconds\n", locked);
    EXPECT_EQ(result, (RunResult{released ? 0 : 1, "", err}));
    EXPECT_EQ(snapshot(dir.path()) == before, !released);
  }
}

// A signal that ends a run while it replaces a large main.py (sent once the registry, written
// just before, is there) leaves no temporary file, and main.py keeps its bytes.
TEST(Faults, InterruptedWriteLeavesNoTemporaryFile) {
  std::string large = kMain;
  for (int i = 0; i < 100000; ++i) large += "# " + std::string(77, 'x') + "\n";
  int interrupted = 0;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU,
                           SIGVTALRM, SIGPROF}) {
    SCOPED_TRACE(signal);
    TempDir dir;
    Tree project = kProject, before, after;
    project["src/main.py"] = large;
    make_tree(dir.path(), project);
    const RunOptions options{.signal = signal,
                             .signal_when = [&] { return fs::exists(dir.path() / kRegistry); }};
    const RunResult result = make_module(dir.path(), "m", options, before, after);
    // Done before the signal came is no fault, only no test.
    EXPECT_TRUE(result.status == 0 || result.status == 128 + signal)
        << ::testing::PrintToString(result);
    EXPECT_TRUE(result.status == 0 || after.at("src/main.py") == large);
    interrupted += result.status != 0;
  }
  EXPECT_GT(interrupted, 0);
}

// Nothing large lives on the stack, and memory that runs out ends a run with an error line like
// any other failure: under a small stack a run reads and writes as usual; a main.py (sparse, so
// it takes no disk) that the memory limit cannot hold fails the run, after the module's files,
// with main.py untouched.
TEST(Faults, RunsWithinTheStackAndMemoryLimits) {
  for (const bool memory : {false, true}) {
#if defined(__SANITIZE_ADDRESS__)
    if (memory) continue;  // the sanitizer's shadow memory alone is past any such limit
#endif
    TempDir dir;
    make_tree(dir.path(), kProject);
    const fs::path main = dir.path() / "src/main.py";
    constexpr std::uintmax_t kSparseSize = std::uintmax_t{1} << 30;
    if (memory) fs::resize_file(main, kSparseSize);
    const std::string script = fmt::format(
        R"(ulimit {} && "$0" make module m --dir "$1" >/dev/null && exec "$0" list --dir "$1")",
        memory ? "-v 400000" : "-s 64");
    const RunResult result = run_program({"sh", "-c", script, brintle_path(), dir.path()});
    const RunResult out_of_memory{1, "", "error: Cannot allocate memory (os error 12)\n"};
    EXPECT_TRUE(memory ? result == out_of_memory
                       : result.status == 0 && result.out.contains("src.modules.m"))
        << ::testing::PrintToString(result);
    EXPECT_TRUE(fs::exists(dir.path() / "src/modules/m/__init__.py"));
    EXPECT_EQ(fs::file_size(main) == kSparseSize, memory);
  }
}

// A kill at any instant of a rewrite in place (main.py has a second name) leaves main.py with its
// old bytes or its new ones, or its old bytes whole in a copy beside it, which the next run names.
TEST(Faults, KilledRewriteInPlaceKeepsTheOldBytesWhole) {
  Tree project = kProject;
  for (int i = 0; i < 50000; ++i) project["src/main.py"] += "# " + std::string(77, 'x') + "\n";
  project["src/other.py"] = "=> src/main.py";
  TempDir whole;
  make_tree(whole.path(), project);
  EXPECT_EQ(run_brintle({"make", "module", "m", "--dir", whole.path()}).status, 0);
  const std::string old = project["src/main.py"], edited = read_file(whole.path() / "src/main.py");
  const std::string copy = "src/main.py.brintle-old";
  int killed = 0;
  for (int step = 0; step < 24; ++step) {
    SCOPED_TRACE(step);
    TempDir dir;
    make_tree(dir.path(), project);
    const fs::path main = dir.path() / "src/main.py";
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> begun;
    // Killed at a later instant each time after the rewrite shows (main.py grown, or the copy
    // of its old bytes made), the write itself taking about a millisecond.
    const RunOptions options{.time_limit = 60, .signal = SIGKILL, .signal_when = [&] {
      if (!begun && (fs::exists(dir.path() / copy) || fs::file_size(main) != old.size())) {
        begun = Clock::now();
      }
      return begun && Clock::now() - *begun >= step * std::chrono::microseconds(100);
    }};
    killed += run_brintle({"make", "module", "m", "--dir", dir.path()}, options).status == 137;
    const std::string left = read_file(main);
    if (left == old || left == edited) continue;
    ASSERT_TRUE(fs::exists(dir.path() / copy)) << "main.py is torn and no copy is kept";
    EXPECT_EQ(read_file(dir.path() / copy), old);
    const RunResult later = run_brintle({"make", "module", "n", "--dir", dir.path()});
    EXPECT_EQ(later.status, 1);
    EXPECT_TRUE(later.err.contains(copy)) << later.err;
  }
  EXPECT_GT(killed, 0);
}

// Each run is held by strace at a system call (a SIGSTOP injected there, answered by SIGCONT once
// the step is done), so that what another process does meanwhile happens at that very instant:
// a folder swapped for a link to an outside folder while its mkdir is held, a file saved after
// the existence test and before the new file is named, and a kill injected at the fsync of
// main.py's replacement. Nothing reaches the outside folder, the file saved stays, and no
// temporary file is left.
TEST(Faults, RunsHeldAtASystemCall) {
  if (!strace_runs()) GTEST_SKIP() << "the program is not traced in this build";
  const std::string held =
      R"(mkfifo "$1/trace" && { strace -f -o "$1/trace" -e trace="$2" -e inject="$2:$3" )"
      R"("$0" make module blog --dir "$1/p" & } && while IFS= read -r line; do case $line in )"
      R"(*'stopped by SIGSTOP'*) (cd "$1/p" && eval "$4"); kill -CONT "${line%% *}";; esac; )"
      R"(done <"$1/trace"; wait $! 2>/dev/null)";
  const std::string blog = "src/modules/blog";
  struct Case {
    std::string syscalls, inject, action;
    int status;
    std::string out_start, err;  // {0}: the project, {1}: the outside folder, resolved
    Tree kept;                   // entries of the project that must be as given afterwards
  };
  for (const Case& c : std::vector<Case>{
           {"mkdir,mkdirat",
            "signal=SIGSTOP",
            "[ -d " + blog + " ] && [ ! -L " + blog + " ] && mv " + blog + " " + blog +
                ".away && ln -s ../../../outside " + blog + "; true",
            1,
            "",
            "error: \"{0}/" + blog + "\" leads to \"{1}\", outside the project\n",
            {}},
           {"write",
            "signal=SIGSTOP",
            "[ ! -d " + blog + " ] || [ -e " + blog + "/__init__.py ] || echo mine >" + blog +
                "/__init__.py",
            0,
            "[skipped] {0}/" + blog + "/__init__.py\n",
            "",
            {{blog + "/__init__.py", "mine\n"}}},
           {"fsync", "error=EINTR:signal=SIGKILL:when=1", "", 128 + SIGKILL, "", "", {}}}) {
    SCOPED_TRACE(c.syscalls);
    TempDir dir;
    make_tree(dir.path() / "p", kProject);
    fs::create_directory(dir.path() / "outside");
    const RunResult result =
        run_program({"sh", "-c", held, brintle_path(), dir.path(), c.syscalls, c.inject, c.action},
                    {.time_limit = 60});
    const fs::path outside = fs::canonical(dir.path() / "outside");
    const auto shown = [&](const std::string& text) {
      return fmt::format(fmt::runtime(text), (dir.path() / "p").native(), outside.native());
    };
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(result.out.starts_with(shown(c.out_start))) << result.out;
    EXPECT_EQ(result.err, shown(c.err));
    EXPECT_TRUE(fs::is_empty(outside));
    const Tree after = snapshot(dir.path() / "p");
    for (const auto& [path, bytes] : after) EXPECT_FALSE(path.contains(".brintle-")) << path;
    for (const auto& [path, bytes] : c.kept) EXPECT_EQ(after.at(path), bytes) << path;
    EXPECT_EQ(after.at("src/main.py") == kMain, c.status != 0);
  }
}

}  // namespace
