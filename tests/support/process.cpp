#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>

namespace testing_support {

namespace {

void set_env(const RunOptions& options) {
  for (const char* name : {"NO_COLOR", "CLICOLOR", "CLICOLOR_FORCE", "TERM", "CI"}) {
    ::unsetenv(name);
  }
  for (const auto& [name, value] : options.env) {
    value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  }
}

// In the child: makes `fd` what `sink` says, `captured` being the pipe or terminal to read.
// Descriptors opened here close on exec; their copies made by dup2 stay.
void wire(int fd, Sink sink, int captured) {
  int gone_reader[2];
  if (sink == Sink::NotOpen) {
    ::close(fd);
  } else if (sink == Sink::DevFull) {
    ::dup2(::open("/dev/full", O_WRONLY | O_CLOEXEC), fd);
  } else if (sink != Sink::ClosedByReader) {
    ::dup2(captured, fd);
  } else if (::pipe2(gone_reader, O_CLOEXEC) == 0) {
    ::close(gone_reader[0]);
    ::dup2(gone_reader[1], fd);
  }
}

[[noreturn]] void start(const std::vector<std::string>& argv, const RunOptions& options, int out,
                        int err) {
  // The tests may run with some of them ignored, which the child would inherit.
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2,
                           SIGXCPU, SIGVTALRM, SIGPROF}) {
    ::signal(signal, SIG_DFL);
  }
  // The signals the tests send leave no core file behind.
  const rlimit no_core{0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);
  if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) _exit(126);
  if (options.cwd_gone && ::rmdir(options.cwd.c_str()) != 0) _exit(126);
  set_env(options);
  ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
  wire(1, options.out, out);
  wire(2, options.err, err);
  if (options.file_size_limit) {
    const rlimit limit{*options.file_size_limit, *options.file_size_limit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
  }
  if (options.run_as && (::setgroups(0, nullptr) != 0 || ::setgid(*options.run_as) != 0 ||
                         ::setuid(*options.run_as) != 0)) {
    _exit(125);
  }
  ::alarm(options.time_limit);  // survives exec
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  _exit(127);
}

// A pseudo-terminal (master, slave) that passes output bytes unchanged ("\n" stays "\n").
std::pair<int, int> open_terminal() {
  int master = -1, slave = -1;
  termios modes{};
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 ||
      ::tcgetattr(slave, &modes) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  ::tcsetattr(slave, TCSANOW, &modes);
  for (const int fd : {master, slave}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return {master, slave};
}

// Everything until the writers are gone (a terminal's master then fails with EIO), then closes.
std::string read_all(int fd) {
  std::string bytes;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace

std::filesystem::path brintle_path() { return BRINTLE_EXE; }

RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const bool terminal = options.out == Sink::Terminal;
  const auto [master, slave] = terminal ? open_terminal() : std::pair(-1, -1);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    start(argv, options, terminal ? slave : out[1], options.err == Sink::Terminal ? slave : err[1]);
  }
  for (const int fd : {out[1], err[1], slave}) ::close(fd);
  if (terminal) ::close(std::exchange(out[0], master));
  // Both streams are read at once, so that a child never waits on a full pipe.
  auto out_bytes = std::async(std::launch::async, read_all, out[0]);
  auto err_bytes = std::async(std::launch::async, read_all, err[0]);
  int status = 0;
  bool ended = false;
  if (options.signal_when) {
    // Polled, not spun: a spinning parent would take the core the child needs to get there.
    while (!(ended = ::waitpid(pid, &status, WNOHANG) == pid) && !options.signal_when()) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!ended) ::kill(pid, options.signal);
  }
  if (!ended) ::waitpid(pid, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {code, out_bytes.get(), err_bytes.get()};
}

RunResult run_brintle(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{brintle_path().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, options);
}

void PrintTo(const RunResult& result, std::ostream* os) {
  *os << "status " << result.status << ", out " << ::testing::PrintToString(result.out) << ", err "
      << ::testing::PrintToString(result.err);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brintle-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Tree snapshot(const std::filesystem::path& root) {
  Tree entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    entries[entry.path().lexically_relative(root).string()] =
        entry.is_symlink()        ? "-> " + std::filesystem::read_symlink(entry.path()).string()
        : entry.is_directory()    ? "<dir>"
        : entry.is_regular_file() ? read_file(entry.path())
                                  : "<other>";
  }
  return entries;
}

void make_tree(const std::filesystem::path& root, const Tree& tree) {
  for (const auto& [relative, value] : tree) {
    const std::filesystem::path path = root / relative;
    std::filesystem::create_directories(path.parent_path());
    if (value == "<dir>") {
      std::filesystem::create_directories(path);
    } else if (value == "<fifo>") {
      if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
    } else if (value.starts_with("-> ")) {
      std::filesystem::create_symlink(value.substr(3), path);
    } else if (value.starts_with("=> ")) {
      std::filesystem::create_hard_link(root / value.substr(3), path);
    } else {
      write_file(path, value);
    }
  }
}

}  // namespace testing_support
