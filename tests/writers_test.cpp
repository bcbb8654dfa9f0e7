#include <gtest/gtest.h>

#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <fmt/format.h>

#include "style/output.h"
#include "support/process.h"
#include "writers/writers.h"

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;

namespace {

// Sets the umask for one test and puts the old one back.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

// Makes `dir` the working directory for one test.
class ScopedCwd {
 public:
  explicit ScopedCwd(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~ScopedCwd() { fs::current_path(old_); }

 private:
  fs::path old_;
};

struct timespec modification_time(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mtim;
}

mode_t permission_bits(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

// Everything `print` writes to standard output.
template <typename Print>
std::string captured_stdout(Print print) {
  TempDir dir;
  const fs::path file = dir.path() / "stdout";
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
  print();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  return read_file(file);
}

// The report's bytes as this process's standard output shows them.
std::string as_shown(const std::string& coloured) {
  return style::colour_enabled(style::Stream::Stdout) ? coloured : style::strip_ansi(coloured);
}

TEST(WriteFile, AddsOneLineFeedOnlyWhenMissing) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string content, written;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"no_newline", "abc", "abc\n"},
           {"one_newline", "abc\n", "abc\n"},
           {"two_newlines", "abc\n\n", "abc\n\n"},
           {"crlf", "abc\r\n", "abc\r\n"},
           {"carriage_return_only", "abc\r", "abc\r\n"},
           {"empty", "", "\n"},
       }) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir.path() / c.name;
    auto record = writers::write_file(path, c.content, false, false);
    ASSERT_TRUE(record.has_value()) << record.error().joined();
    EXPECT_EQ(*record, (GeneratedFile{path, c.written, WriteStatus::Created}));
    EXPECT_EQ(read_file(path), c.written);
  }
}

TEST(WriteFile, CreatesMissingParentsWithUmaskModes) {
  TempDir dir;
  ScopedUmask mask(027);
  const fs::path path = dir.path() / "a" / "b" / "c" / "file.py";
  auto record = writers::write_file(path, "x = 1", false, false);
  ASSERT_TRUE(record.has_value()) << record.error().joined();
  EXPECT_EQ(record->status, WriteStatus::Created);
  EXPECT_EQ(read_file(path), "x = 1\n");
  EXPECT_EQ(permission_bits(dir.path() / "a"), 0750u);
  EXPECT_EQ(permission_bits(dir.path() / "a" / "b" / "c"), 0750u);
  EXPECT_EQ(permission_bits(path), 0640u);
}

TEST(WriteFile, BareFileNameWritesIntoTheWorkingDirectory) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  auto record = writers::write_file("bare.txt", "hello", false, false);
  ASSERT_TRUE(record.has_value()) << record.error().joined();
  EXPECT_EQ(record->path, fs::path("bare.txt"));
  EXPECT_EQ(read_file(dir.path() / "bare.txt"), "hello\n");
}

TEST(WriteFile, DryRunTouchesNothing) {
  TempDir dir;
  const fs::path existing = dir.path() / "existing.txt";
  testing_support::write_file(existing, "old");
  auto over_existing = writers::write_file(existing, "new", true, true);
  ASSERT_TRUE(over_existing.has_value());
  EXPECT_EQ(*over_existing, (GeneratedFile{existing, "new", WriteStatus::DryRun}));
  EXPECT_EQ(read_file(existing), "old");

  const fs::path nested = dir.path() / "missing" / "deeper" / "file.txt";
  auto under_missing = writers::write_file(nested, "", false, true);
  ASSERT_TRUE(under_missing.has_value());
  EXPECT_EQ(*under_missing, (GeneratedFile{nested, "", WriteStatus::DryRun}));
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));

  // Not even an impossible path is looked at.
  const fs::path impossible = existing / "child.txt";
  auto under_file = writers::write_file(impossible, "x", false, true);
  ASSERT_TRUE(under_file.has_value());
  EXPECT_EQ(under_file->status, WriteStatus::DryRun);
}

TEST(WriteFile, ExistingFileIsSkippedUntouched) {
  TempDir dir;
  const fs::path path = dir.path() / "kept.txt";
  testing_support::write_file(path, "original bytes");
  const struct timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), long_ago, 0), 0);

  auto record = writers::write_file(path, "offered", false, false);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(*record, (GeneratedFile{path, "offered", WriteStatus::Skipped}));
  EXPECT_EQ(read_file(path), "original bytes");
  EXPECT_EQ(modification_time(path).tv_sec, 1000000000);
  EXPECT_EQ(modification_time(path).tv_nsec, 0);
}

TEST(WriteFile, ParentsAreMadeEvenForASkippedFile) {
  TempDir dir;
  testing_support::write_file(dir.path() / "kept.txt", "original");
  // The file exists only because the lexical parent "made/.." resolves to the directory itself.
  const fs::path path = dir.path() / "made" / ".." / "kept.txt";
  auto record = writers::write_file(path, "offered", false, false);
  ASSERT_TRUE(record.has_value()) << record.error().joined();
  EXPECT_EQ(record->status, WriteStatus::Skipped);
  EXPECT_TRUE(fs::is_directory(dir.path() / "made"));
}

TEST(WriteFile, ForceTruncatesAndRewrites) {
  TempDir dir;
  const fs::path path = dir.path() / "replaced.txt";
  testing_support::write_file(path, "a much longer original text\nwith two lines\n");
  auto record = writers::write_file(path, "short", true, false);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(*record, (GeneratedFile{path, "short\n", WriteStatus::Created}));
  EXPECT_EQ(read_file(path), "short\n");
}

TEST(WriteFile, ParentThatIsARegularFileFails) {
  TempDir dir;
  const fs::path file = dir.path() / "plain";
  testing_support::write_file(file, "data");
  for (const fs::path& path : {file / "x.txt", file / "sub" / "x.txt"}) {
    SCOPED_TRACE(path.string());
    auto record = writers::write_file(path, "x", true, false);
    ASSERT_FALSE(record.has_value());
    EXPECT_EQ(record.error().messages(), std::vector<std::string>{"Not a directory (os error 20)"});
  }
  EXPECT_EQ(read_file(file), "data");
}

TEST(WriteFile, DirectoryAtThePath) {
  TempDir dir;
  const fs::path path = dir.path() / "taken";
  fs::create_directory(path);
  auto skipped = writers::write_file(path, "x", false, false);
  ASSERT_TRUE(skipped.has_value());
  EXPECT_EQ(skipped->status, WriteStatus::Skipped);

  auto forced = writers::write_file(path, "x", true, false);
  ASSERT_FALSE(forced.has_value());
  EXPECT_EQ(forced.error().messages(), std::vector<std::string>{"Is a directory (os error 21)"});
  EXPECT_TRUE(fs::is_directory(path));
}

TEST(WriteFile, SymbolicLinksAreFollowed) {
  TempDir dir;
  const fs::path target = dir.path() / "target.txt";
  testing_support::write_file(target, "target");
  const fs::path link = dir.path() / "link.txt";
  fs::create_symlink(target, link);
  auto to_file = writers::write_file(link, "new", false, false);
  ASSERT_TRUE(to_file.has_value());
  EXPECT_EQ(to_file->status, WriteStatus::Skipped);
  EXPECT_EQ(read_file(target), "target");

  const fs::path dangling = dir.path() / "dangling.txt";
  fs::create_symlink(dir.path() / "nowhere.txt", dangling);
  auto through_dangling = writers::write_file(dangling, "new", false, false);
  ASSERT_TRUE(through_dangling.has_value());
  EXPECT_EQ(through_dangling->status, WriteStatus::Created);
  EXPECT_EQ(read_file(dir.path() / "nowhere.txt"), "new\n");
}

TEST(WriteFile, UnwritableDirectoryGivesTheSystemText) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir dir;
  const fs::path locked = dir.path() / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  auto record = writers::write_file(locked / "new" / "file.txt", "x", false, false);
  ASSERT_FALSE(record.has_value());
  EXPECT_EQ(record.error().joined(), "Permission denied (os error 13)");
}

TEST(WriteFile, FailedWriteGivesTheSystemTextOnly) {
  TempDir dir;
  const fs::path path = dir.path() / std::string(300, 'n');
  auto record = writers::write_file(path, "x", false, false);
  ASSERT_FALSE(record.has_value());
  EXPECT_EQ(record.error().messages(),
            std::vector<std::string>{"File name too long (os error 36)"});
}

// The names of the entries directly in `dir`.
std::set<std::string> entry_names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

// Runs write_file in a child process whose writes may not grow a file past `limit` bytes, and
// returns "ok" or the error text.
std::string write_under_size_limit(const fs::path& path, const std::string& content, bool force,
                                   rlim_t limit) {
  int channel[2];
  if (::pipe(channel) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit fsize{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &fsize);
    auto record = writers::write_file(path, content, force, false);
    const std::string outcome = record ? std::string("ok") : record.error().joined();
    (void)!::write(channel[1], outcome.data(), outcome.size());
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string outcome;
  char buffer[256];
  for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
    outcome.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return outcome;
}

TEST(WriteFile, FailedWriteKeepsTheOldBytesAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string original = "print('mine')\n" + std::string(8000, '#') + "\n";
  const fs::path existing = dir.path() / "main.py";
  testing_support::write_file(existing, original);
  const std::string bigger(20000, 'x');

  EXPECT_EQ(write_under_size_limit(existing, bigger, true, 4096), "File too large (os error 27)");
  EXPECT_EQ(read_file(existing), original);
  EXPECT_EQ(entry_names(dir.path()), std::set<std::string>{"main.py"});

  // A new file is not left half-written, where the next run would take it for the user's own.
  const fs::path fresh = dir.path() / "fresh.py";
  EXPECT_EQ(write_under_size_limit(fresh, bigger, false, 4096), "File too large (os error 27)");
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(entry_names(dir.path()), std::set<std::string>{"main.py"});

  // Under the limit the same write goes through.
  EXPECT_EQ(write_under_size_limit(existing, "short", true, 4096), "ok");
  EXPECT_EQ(read_file(existing), "short\n");
  EXPECT_EQ(entry_names(dir.path()), std::set<std::string>{"main.py"});
}

TEST(WriteFile, ReplacedFileKeepsItsPermissionBits) {
  TempDir dir;
  ScopedUmask mask(022);
  for (const mode_t mode : {0600u, 0640u, 0755u, 0666u, 0444u}) {
    SCOPED_TRACE(mode);
    const fs::path path = dir.path() / fmt::format("file{:o}.py", mode);
    testing_support::write_file(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    // Without privileges a read-only file is refused instead (the end-to-end suite checks it).
    if (::access(path.c_str(), W_OK) != 0) continue;
    auto record = writers::write_file(path, "new", true, false);
    ASSERT_TRUE(record.has_value()) << record.error().joined();
    EXPECT_EQ(read_file(path), "new\n");
    EXPECT_EQ(permission_bits(path), mode);
  }
  // A privileged writer hands the replacement back to the file's owner.
  if (::geteuid() == 0) {
    const fs::path owned = dir.path() / "owned.py";
    testing_support::write_file(owned, "old");
    ASSERT_EQ(::chown(owned.c_str(), 65534, 65534), 0);
    ASSERT_TRUE(writers::write_file(owned, "new", true, false).has_value());
    struct stat info {};
    ASSERT_EQ(::stat(owned.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
  }
  // A new file gets 0666 less the umask, also through the temporary file.
  auto fresh = writers::write_file(dir.path() / "fresh.py", "x", false, false);
  ASSERT_TRUE(fresh.has_value());
  EXPECT_EQ(permission_bits(dir.path() / "fresh.py"), 0644u);
}

TEST(WriteFile, ForcedWriteThroughLinksReplacesTheFinalTargetAndKeepsTheLinks) {
  TempDir dir;
  const fs::path real = dir.path() / "real" / "main.py";
  testing_support::write_file(real, "old");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  fs::create_directory(dir.path() / "src");
  // src/main.py -> ../hop.py -> real/main.py: two links, both relative to their own directory.
  fs::create_symlink("real/main.py", dir.path() / "hop.py");
  fs::create_symlink("../hop.py", dir.path() / "src" / "main.py");

  auto record = writers::write_file(dir.path() / "src" / "main.py", "new", true, false);
  ASSERT_TRUE(record.has_value()) << record.error().joined();
  EXPECT_EQ(record->path, dir.path() / "src" / "main.py");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "src" / "main.py"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "hop.py"));
  EXPECT_EQ(fs::read_symlink(dir.path() / "src" / "main.py"), fs::path("../hop.py"));
  EXPECT_EQ(read_file(real), "new\n");
  EXPECT_EQ(permission_bits(real), 0640u);
  EXPECT_EQ(entry_names(dir.path() / "real"), std::set<std::string>{"main.py"});
  EXPECT_EQ(entry_names(dir.path() / "src"), std::set<std::string>{"main.py"});

  // A dangling relative link is resolved from its own directory and its target created.
  fs::create_symlink("../real/later.py", dir.path() / "src" / "later.py");
  auto dangling = writers::write_file(dir.path() / "src" / "later.py", "later", false, false);
  ASSERT_TRUE(dangling.has_value()) << dangling.error().joined();
  EXPECT_EQ(dangling->status, WriteStatus::Created);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "src" / "later.py"));
  EXPECT_EQ(read_file(dir.path() / "real" / "later.py"), "later\n");

  // A loop of links has no target.
  fs::create_symlink("loop_b", dir.path() / "loop_a");
  fs::create_symlink("loop_a", dir.path() / "loop_b");
  auto looped = writers::write_file(dir.path() / "loop_a", "x", true, false);
  ASSERT_FALSE(looped.has_value());
  EXPECT_EQ(looped.error().joined(), "Too many levels of symbolic links (os error 40)");
}

TEST(WriteFile, LinkToADirectoryIsSkippedOrRefused) {
  TempDir dir;
  fs::create_directory(dir.path() / "package");
  fs::create_symlink("package", dir.path() / "main.py");
  auto skipped = writers::write_file(dir.path() / "main.py", "x", false, false);
  ASSERT_TRUE(skipped.has_value());
  EXPECT_EQ(skipped->status, WriteStatus::Skipped);
  auto forced = writers::write_file(dir.path() / "main.py", "x", true, false);
  ASSERT_FALSE(forced.has_value());
  EXPECT_EQ(forced.error().joined(), "Is a directory (os error 21)");
  EXPECT_TRUE(fs::is_empty(dir.path() / "package"));
  EXPECT_EQ(entry_names(dir.path()), (std::set<std::string>{"main.py", "package"}));
}

TEST(WriteFile, LongestNameTheSystemAllowsStillWrites) {
  TempDir dir;
  // The temporary name must not be longer than the name it stands in for.
  const std::string name(255, 'n');
  auto record = writers::write_file(dir.path() / name, "x", false, false);
  ASSERT_TRUE(record.has_value()) << record.error().joined();
  auto again = writers::write_file(dir.path() / name, "y", true, false);
  ASSERT_TRUE(again.has_value()) << again.error().joined();
  EXPECT_EQ(read_file(dir.path() / name), "y\n");
  EXPECT_EQ(entry_names(dir.path()), std::set<std::string>{name});
}

TEST(WriteFile, PipeAtThePathIsWrittenIntoNotReplaced) {
  TempDir dir;
  const fs::path fifo = dir.path() / "channel";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  auto record = writers::write_file(fifo, "through", true, false);
  ASSERT_TRUE(record.has_value()) << record.error().joined();
  char buffer[32] = {};
  EXPECT_EQ(::read(reader, buffer, sizeof buffer), 8);
  ::close(reader);
  EXPECT_EQ(std::string(buffer), "through\n");
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(Report, OneLinePerRecordInOrder) {
  const std::vector<GeneratedFile> files{
      {"a", "", WriteStatus::Created},
      {"b", "", WriteStatus::Skipped},
      {"dir/c.py", "", WriteStatus::DryRun},
  };
  EXPECT_EQ(captured_stdout([&] { writers::report(files, false); }),
            as_shown("\x1b[32m[created]\x1b[39m a\n"
                     "\x1b[33m[skipped]\x1b[39m b\n"
                     "\x1b[36m[dry-run]\x1b[39m dir/c.py\n"));
  EXPECT_EQ(captured_stdout([&] { writers::report(files, true); }),
            as_shown("\x1b[33m[dry-run]\x1b[39m \x1b[32m[created]\x1b[39m a\n"
                     "\x1b[33m[dry-run]\x1b[39m \x1b[33m[skipped]\x1b[39m b\n"
                     "\x1b[33m[dry-run]\x1b[39m \x1b[36m[dry-run]\x1b[39m dir/c.py\n"));
}

TEST(Report, StrippedLinesAreThePlainLabels) {
  const std::vector<GeneratedFile> files{{"a", "", WriteStatus::Created},
                                         {"b", "", WriteStatus::Skipped}};
  EXPECT_EQ(style::strip_ansi(captured_stdout([&] { writers::report(files, false); })),
            "[created] a\n[skipped] b\n");
}

TEST(Report, EmptyListPrintsNothing) {
  EXPECT_EQ(captured_stdout([] { writers::report({}, false); }), "");
  EXPECT_EQ(captured_stdout([] { writers::report({}, true); }), "");
}

TEST(Report, InvalidUtf8InAPathIsShownAsReplacement) {
  const std::vector<GeneratedFile> files{{"/p/caf\xe9/\xff.py", "", WriteStatus::Created}};
  EXPECT_EQ(style::strip_ansi(captured_stdout([&] { writers::report(files, false); })),
            "[created] /p/caf\xEF\xBF\xBD/\xEF\xBF\xBD.py\n");
}

}  // namespace
