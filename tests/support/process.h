#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

// Runs the built brintle program the way a user would and captures what it did.
namespace testing_support {

/// Where the child's standard output (or error) goes.
enum class Sink {
  Pipe,           ///< captured
  ClosedByReader, ///< a pipe whose reading end is closed before the child starts
  NotOpen,        ///< the descriptor is closed before the child starts
  DevFull,        ///< /dev/full: every write fails with "No space left on device"
  Terminal,       ///< captured through a pseudo-terminal, bytes unchanged; standard error only
                  ///< with standard output, whose capture then holds both
};

/// A user and group for the child to run as.
struct RunAs {
  uid_t uid;
  gid_t gid;
};

/// Every member has a default, so designated initializers may name only some of them.
struct RunOptions {
  std::filesystem::path cwd = {};                              ///< empty: the test's cwd
  std::map<std::string, std::optional<std::string>> env = {};  ///< set (value) or unset (nullopt)
  Sink out = Sink::Pipe;
  Sink err = Sink::Pipe;
  std::string stdin_text = {};
  std::optional<rlim_t> file_size_limit = {};  ///< the child's RLIMIT_FSIZE, in bytes
  std::optional<RunAs> run_as = {};            ///< dropped to (groups, gid, uid) before exec
  unsigned time_limit = 0;  ///< seconds after which SIGALRM ends the child; 0: none
};

struct RunResult {
  int status = -1;  ///< exit status, or 128 + signal number
  std::string out;
  std::string err;

  bool operator==(const RunResult&) const = default;
};

/// How a test failure shows a result: the status and both streams, quoted.
void PrintTo(const RunResult& result, std::ostream* os);

/// The path of the built program.
std::filesystem::path brintle_path();

/// Runs brintle with `args` (argv[1..]). The colour variables (NO_COLOR, CLICOLOR,
/// CLICOLOR_FORCE, TERM, CI) are unset unless `options.env` sets them.
RunResult run_brintle(const std::vector<std::string>& args, const RunOptions& options = {});

/// Runs any program (argv[0] looked up in PATH) with the same capture.
RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options = {});

/// Runs `body` in a forked copy of this process, wired as run_program wires a program (streams,
/// environment, limits, user); the status is 0 when `body` returns.
RunResult run_function(const std::function<void()>& body, const RunOptions& options = {});

/// Runs a program (standard output discarded) and sends it `signal` once `ready` holds;
/// returns its status as RunResult counts it. Stops waiting when the program ends first.
int run_until(const std::vector<std::string>& argv, int signal,
              const std::function<bool()>& ready);

/// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// The whole file's bytes (throws when it cannot be read).
std::string read_file(const std::filesystem::path& path);
/// Writes bytes to a file, creating parent directories.
void write_file(const std::filesystem::path& path, const std::string& bytes);

/// Every entry under a root by its relative path: a regular file's bytes, "<dir>" for a
/// directory, "-> <target>" for a symbolic link (not followed), "<other>" for anything else
/// (make_tree makes "<fifo>" a FIFO).
using Tree = std::map<std::string, std::string>;

/// The entries under `root` as they are now.
Tree snapshot(const std::filesystem::path& root);
/// Creates the entries of `tree` (in the notation of snapshot) under `root`, with parents.
void make_tree(const std::filesystem::path& root, const Tree& tree);

}  // namespace testing_support
