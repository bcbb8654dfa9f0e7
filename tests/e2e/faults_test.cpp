// Faults met while the program works on the user's files: every case checks the status, the
// exact error line, and that no byte the user had on disk changed and no temporary file stayed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::run_brintle;
using testing_support::run_program;
using testing_support::RunAs;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::Sink;
using testing_support::TempDir;
using testing_support::write_file;

constexpr std::string_view kMain = "from fastapi import FastAPI\n\napp = FastAPI()\n";
constexpr std::string_view kRegistryFile = "src/modules/__init__.py";
constexpr std::string_view kModuleInit = "src/modules/blog_post/__init__.py";
constexpr std::string_view kTempMarker = ".brintle-";
// The user and group of 'nobody', who owns nothing and has no privilege.
constexpr RunAs kNobody{65534, 65534};

/// Every entry under a root: a regular file's bytes, "<dir>", or "-> <target>" for a link.
using Tree = std::map<std::string, std::string>;

Tree snapshot(const fs::path& root) {
  Tree entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      entries[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[relative] = "<dir>";
    } else {
      entries[relative] = read_file(entry.path());
    }
  }
  return entries;
}

void expect_no_temporary_files(const Tree& tree) {
  for (const auto& [path, content] : tree) {
    EXPECT_EQ(path.find(kTempMarker), std::string::npos) << "left behind: " << path;
  }
}

// Every entry of `before` is still there with the same bytes, except those in `replaced`; new
// entries (files the command wrote before it failed) may have appeared.
void expect_user_bytes_kept(const Tree& before, const Tree& after,
                            const std::set<std::string>& replaced = {}) {
  for (const auto& [path, content] : before) {
    if (replaced.contains(path)) continue;
    const auto now = after.find(path);
    if (now == after.end()) {
      ADD_FAILURE() << "lost: " << path;
    } else {
      EXPECT_EQ(now->second, content) << "changed: " << path;
    }
  }
  expect_no_temporary_files(after);
}

// A project whose main.py still needs the auto-mount block.
void make_project(const fs::path& root, std::string_view main = kMain) {
  write_file(root / ".brintle.json", "{\n  \"source_dir\": \"src\"\n}\n");
  write_file(root / "src/main.py", std::string(main));
}

// A registry of `count` modules, written the way the program writes one.
std::string registry_of(int count) {
  std::string text = "\"\"\"Registered modules.\"\"\"\n\nmodules: dict[str, str] = {\n";
  for (int i = 0; i < count; ++i) {
    text += "    \"m" + std::to_string(i) + "\": \"src.modules.m" + std::to_string(i) + "\",\n";
  }
  return text + "}\n\n__all__ = [\"modules\"]\n";
}

RunResult make_module(const fs::path& root, std::vector<std::string> extra = {},
                      RunOptions options = {}) {
  std::vector<std::string> args = {"make", "module", "BlogPost", "--dir", root.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  return run_brintle(args, options);
}

std::string error_line(std::string_view message) {
  return "error: " + std::string(message) + "\n";
}

RunOptions with_file_size_limit(rlim_t bytes) {
  RunOptions options;
  options.file_size_limit = bytes;
  return options;
}

// A command that fails, with everything it needs, and what the user must see.
struct FailureCase {
  const char* name;
  std::function<void(const fs::path&)> setup;
  std::vector<std::string> extra_args;
  RunOptions options;
  std::string error;
  std::set<std::string> replaced = {};  ///< files the command may rewrite before it fails
};

void run_failure_case(const FailureCase& c) {
  SCOPED_TRACE(c.name);
  TempDir dir;
  c.setup(dir.path());
  const Tree before = snapshot(dir.path());
  const RunResult result = make_module(dir.path(), c.extra_args, c.options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, error_line(c.error));
  EXPECT_EQ(result.out, "");
  expect_user_bytes_kept(before, snapshot(dir.path()), c.replaced);
}

TEST(FaultsFileSizeLimit, AWriteCutShortKeepsTheOldFileWhole) {
  const std::string big_main = std::string(kMain) + "\n" + std::string(64 * 1024, '#') + "\n";
  const auto user_module = [](const fs::path& root) {
    make_project(root);
    for (const char* file : {"__init__.py", "api/__init__.py", "api/router.py",
                             "application/schemas.py", "domain/model.py"}) {
      write_file(root / "src/modules/blog_post" / file, "# the user's own code\n");
    }
  };
  for (const FailureCase& c : std::initializer_list<FailureCase>{
           {"main.py longer than the limit",
            [&](const fs::path& root) { make_project(root, big_main); },
            {},
            with_file_size_limit(4096),
            "File too large (os error 27)"},
           {"registry longer than the limit",
            [](const fs::path& root) {
              make_project(root);
              write_file(root / kRegistryFile, registry_of(600));
            },
            {},
            with_file_size_limit(4096),
            "File too large (os error 27)"},
           // The router is the first module file longer than the limit; the two before it
           // are rewritten as --force asks.
           {"forced overwrite of a module",
            user_module,
            {"--force"},
            with_file_size_limit(1024),
            "File too large (os error 27)",
            {std::string(kModuleInit), "src/modules/blog_post/api/__init__.py"}},
           {"new file", [](const fs::path& root) { make_project(root); }, {},
            with_file_size_limit(64), "File too large (os error 27)"},
       }) {
    run_failure_case(c);
  }
}

TEST(FaultsFileSizeLimit, ANewFileCutShortIsNotTakenForTheUsersNextTime) {
  TempDir dir;
  make_project(dir.path());
  ASSERT_EQ(make_module(dir.path(), {}, with_file_size_limit(64)).status, 1);
  EXPECT_FALSE(fs::exists(dir.path() / kModuleInit));

  const RunResult again = make_module(dir.path());
  EXPECT_EQ(again.status, 0);
  EXPECT_TRUE(again.out.starts_with("[created] " + (dir.path() / kModuleInit).string() + "\n"))
      << again.out;
  EXPECT_EQ(again.out.find("[skipped]"), std::string::npos) << again.out;
}

TEST(FaultsInTheWay, SomethingElseStandsWhereAFileOrDirectoryIsNeeded) {
  for (const FailureCase& c : std::initializer_list<FailureCase>{
           {"directory at main.py",
            [](const fs::path& root) {
              make_project(root);
              fs::remove(root / "src/main.py");
              fs::create_directories(root / "src/main.py/inside");
            },
            {},
            {},
            "Is a directory (os error 21)"},
           {"directory at the registry",
            [](const fs::path& root) {
              make_project(root);
              fs::create_directories(root / kRegistryFile);
            },
            {},
            {},
            "Is a directory (os error 21)"},
           {"directory at a module file, forced",
            [](const fs::path& root) {
              make_project(root);
              fs::create_directories(root / kModuleInit);
            },
            {"--force"},
            {},
            "Is a directory (os error 21)"},
           {"regular file at the modules directory",
            [](const fs::path& root) {
              make_project(root);
              write_file(root / "src/modules", "not a directory\n");
            },
            {},
            {},
            "Not a directory (os error 20)"},
           {"regular file at the module directory",
            [](const fs::path& root) {
              make_project(root);
              write_file(root / "src/modules/blog_post", "not a directory\n");
            },
            {},
            {},
            "Not a directory (os error 20)"},
       }) {
    run_failure_case(c);
  }
}

TEST(FaultsInTheWay, PathsTooLongForTheSystem) {
  TempDir dir;
  make_project(dir.path());
  const Tree before = snapshot(dir.path());
  std::string deep;
  for (int i = 0; i < 2100; ++i) deep += "d/";
  for (const fs::path& base : {dir.path() / std::string(300, 'n'), dir.path() / deep}) {
    SCOPED_TRACE(base.string().size());
    const RunResult result = run_brintle({"make", "module", "BlogPost", "--dir", base.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, error_line("File name too long (os error 36)"));
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(snapshot(dir.path()), before);
}

TEST(FaultsContent, FilesThatAreNotUtf8AreLeftAlone) {
  for (const FailureCase& c : std::initializer_list<FailureCase>{
           {"main.py",
            [](const fs::path& root) { make_project(root, "app = FastAPI()  # caf\xe9\n"); },
            {},
            {},
            "stream did not contain valid UTF-8"},
           {"registry",
            [](const fs::path& root) {
              make_project(root);
              write_file(root / kRegistryFile, registry_of(2) + "# \xff\xfe\n");
            },
            {},
            {},
            "stream did not contain valid UTF-8"},
       }) {
    run_failure_case(c);
  }
}

TEST(FaultsLinks, MainPyAsALinkIsEditedThroughIt) {
  TempDir dir;
  make_project(dir.path());
  fs::create_directories(dir.path() / "entry");
  fs::rename(dir.path() / "src/main.py", dir.path() / "entry/app_main.py");
  ASSERT_EQ(::chmod((dir.path() / "entry/app_main.py").c_str(), 0640), 0);
  fs::create_symlink("../entry/app_main.py", dir.path() / "src/main.py");

  const RunResult result = make_module(dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(result.out.ends_with("[created] " + (dir.path() / "src/main.py").string() + "\n"))
      << result.out;
  EXPECT_TRUE(fs::is_symlink(dir.path() / "src/main.py"));
  EXPECT_EQ(fs::read_symlink(dir.path() / "src/main.py"), "../entry/app_main.py");
  const std::string edited = read_file(dir.path() / "entry/app_main.py");
  EXPECT_TRUE(edited.contains("# --- brintle: auto-mount (do not remove) ---\n")) << edited;
  EXPECT_EQ(fs::status(dir.path() / "entry/app_main.py").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  expect_no_temporary_files(snapshot(dir.path()));
}

TEST(FaultsLinks, DanglingOrDirectoryLinkAtMainPy) {
  {
    SCOPED_TRACE("dangling link: there is no main.py to edit");
    TempDir dir;
    make_project(dir.path());
    fs::remove(dir.path() / "src/main.py");
    fs::create_symlink("gone.py", dir.path() / "src/main.py");
    const RunResult result = make_module(dir.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out.ends_with("[skipped] " + (dir.path() / "src/main.py").string() +
                                     "\n1 file(s) already exist. Re-run with --force to "
                                     "overwrite.\n"))
        << result.out;
    EXPECT_EQ(fs::read_symlink(dir.path() / "src/main.py"), "gone.py");
    EXPECT_FALSE(fs::exists(dir.path() / "src/gone.py"));
    expect_no_temporary_files(snapshot(dir.path()));
  }
  run_failure_case({"link to a directory",
                    [](const fs::path& root) {
                      make_project(root);
                      fs::remove(root / "src/main.py");
                      fs::create_directories(root / "src/package");
                      fs::create_symlink("package", root / "src/main.py");
                    },
                    {},
                    {},
                    "Is a directory (os error 21)"});
}

// Gives the tree to `who` and lets every user reach the test's directory.
void hand_over(const fs::path& root, RunAs who) {
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  ASSERT_EQ(::lchown(root.c_str(), who.uid, who.gid), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), who.uid, who.gid), 0) << entry.path();
  }
}

void set_mode(const fs::path& path, mode_t mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0); }

TEST(FaultsPermissions, AnUnprivilegedUserIsRefusedAndNothingChanges) {
  RunOptions as_nobody;
  as_nobody.run_as = kNobody;
  if (run_program({"true"}, as_nobody).status != 0) {
    GTEST_SKIP() << "cannot run a program as another user here";
  }
  const auto owned_by_nobody = [](std::function<void(const fs::path&)> tweak) {
    return [tweak](const fs::path& root) {
      make_project(root);
      fs::create_directories(root / "src/modules");
      fs::create_directories(root / "src/core");
      hand_over(root, kNobody);
      tweak(root);
    };
  };
  for (const FailureCase& c : std::initializer_list<FailureCase>{
           {"read-only modules directory",
            owned_by_nobody([](const fs::path& root) { set_mode(root / "src/modules", 0555); }),
            {},
            as_nobody,
            "Permission denied (os error 13)"},
           // Everything else is written; main.py cannot be replaced in a read-only directory.
           {"main.py in a read-only directory",
            owned_by_nobody([](const fs::path& root) { set_mode(root / "src", 0555); }),
            {},
            as_nobody,
            "Permission denied (os error 13)"},
           {"read-only main.py",
            owned_by_nobody([](const fs::path& root) { set_mode(root / "src/main.py", 0444); }),
            {},
            as_nobody,
            "Permission denied (os error 13)"},
           {"unreadable main.py",
            owned_by_nobody([](const fs::path& root) { set_mode(root / "src/main.py", 0200); }),
            {},
            as_nobody,
            "Permission denied (os error 13)"},
           {"unreadable registry", owned_by_nobody([](const fs::path& root) {
              write_file(root / kRegistryFile, registry_of(1));
              ASSERT_EQ(::lchown((root / kRegistryFile).c_str(), kNobody.uid, kNobody.gid), 0);
              set_mode(root / kRegistryFile, 0200);
            }),
            {},
            as_nobody,
            "Permission denied (os error 13)"},
       }) {
    run_failure_case(c);
  }
}

TEST(FaultsStreams, UnusableStandardOutputChangesNothingOnDisk) {
  TempDir reference;
  make_project(reference.path());
  ASSERT_EQ(make_module(reference.path()).status, 0);
  const Tree expected = snapshot(reference.path());

  struct Case {
    const char* name;
    Sink out;
    int status;
    std::string_view err;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"closed by its reader", Sink::ClosedByReader, 0, ""},
           {"closed before the start", Sink::NotOpen, 0, ""},
           {"on a full device", Sink::DevFull, 101,
            "failed printing to stdout: No space left on device (os error 28)"},
       }) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    make_project(dir.path());
    RunOptions options;
    options.out = c.out;
    const RunResult result = make_module(dir.path(), {}, options);
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(result.err.contains(c.err)) << result.err;
    // The same files with the same bytes as a run whose report could be printed.
    EXPECT_EQ(snapshot(dir.path()), expected);
  }
}

TEST(FaultsStreams, UnusableStandardErrorOnAFailingCommand) {
  struct Case {
    const char* name;
    Sink err;
    int status;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"closed by its reader", Sink::ClosedByReader, 1},
           {"closed before the start", Sink::NotOpen, 1},
           {"on a full device", Sink::DevFull, 101},
       }) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    make_project(dir.path());
    write_file(dir.path() / "src/modules", "not a directory\n");
    const Tree before = snapshot(dir.path());
    RunOptions options;
    options.err = c.err;
    const RunResult result = make_module(dir.path(), {}, options);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(snapshot(dir.path()), before);
  }
}

}  // namespace
