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
  Pipe,            ///< captured
  ClosedByReader,  ///< a pipe whose reading end is closed before the child starts
  NotOpen,         ///< the descriptor is closed before the child starts
  DevFull,         ///< /dev/full: every write fails with "No space left on device"
  Terminal,        ///< a pseudo-terminal, bytes unchanged; give it both streams, whose bytes
                   ///< then all come out as standard output
};

/// Every member has a default, so designated initializers may name only some of them.
struct RunOptions {
  std::filesystem::path cwd = {};                              ///< empty: the test's cwd
  bool cwd_gone = false;  ///< the child removes `cwd` once it is in it, before the program starts
  std::map<std::string, std::optional<std::string>> env = {};  ///< set (value) or unset (nullopt)
  Sink out = Sink::Pipe;
  Sink err = Sink::Pipe;
  std::optional<rlim_t> file_size_limit = {};  ///< the child's RLIMIT_FSIZE, in bytes
  std::optional<uid_t> run_as = {};  ///< as user and group id, supplementary groups dropped
  unsigned time_limit = 0;           ///< seconds after which SIGALRM ends the child; 0: none
  int signal = 0;                          ///< sent to the child once `signal_when` holds,
  std::function<bool()> signal_when = {};  ///< asked over and over while the child runs
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

/// Runs a program (argv[0] looked up in PATH) with standard input empty. The colour variables
/// (NO_COLOR, CLICOLOR, CLICOLOR_FORCE, TERM, CI) are unset unless `options.env` sets them, and
/// the termination signals have their default action (and dump no core).
RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options = {});

/// run_program with the built brintle and `args` (argv[1..]).
RunResult run_brintle(const std::vector<std::string>& args, const RunOptions& options = {});

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
/// directory, "-> <target>" for a symbolic link (not followed), "<other>" for anything else.
/// make_tree also takes "<fifo>" for a FIFO and "=> <entry>" for another name of an entry
/// made before it (in path order).
using Tree = std::map<std::string, std::string>;

/// The entries under `root` as they are now.
Tree snapshot(const std::filesystem::path& root);
/// Creates the entries of `tree` (in the notation of snapshot) under `root`, with parents.
void make_tree(const std::filesystem::path& root, const Tree& tree);

}  // namespace testing_support
