#include "support/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <utility>
#include <unistd.h>

extern char** environ;

namespace testing_support {

namespace {

void set_env(const RunOptions& options) {
  for (const char* name : {"NO_COLOR", "CLICOLOR", "CLICOLOR_FORCE", "TERM", "CI"}) {
    ::unsetenv(name);
  }
  for (const auto& [name, value] : options.env) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

// In the child: makes `fd` what `sink` says; `pipe_write` is the write end for Sink::Pipe.
void wire_sink(int fd, Sink sink, int pipe_write) {
  switch (sink) {
    case Sink::Pipe:
    case Sink::ClosedByReader:
    case Sink::Terminal:
      ::dup2(pipe_write, fd);
      break;
    case Sink::NotOpen:
      ::close(fd);
      break;
    case Sink::DevFull: {
      int full = ::open("/dev/full", O_WRONLY);
      ::dup2(full, fd);
      ::close(full);
      break;
    }
  }
}

void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  std::vector<pollfd> fds;
  if (out_fd >= 0) fds.push_back({out_fd, POLLIN, 0});
  if (err_fd >= 0) fds.push_back({err_fd, POLLIN, 0});
  char buffer[65536];
  while (!fds.empty()) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (std::size_t i = 0; i < fds.size();) {
      if (fds[i].revents == 0) {
        ++i;
        continue;
      }
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (fds[i].fd == out_fd ? out : err).append(buffer, static_cast<std::size_t>(n));
        ++i;
      } else {
        ::close(fds[i].fd);
        fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
}

// A pseudo-terminal (master, slave) that passes output bytes unchanged ("\n" stays "\n").
std::pair<int, int> open_terminal() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  termios modes{};
  if (slave < 0 || ::tcgetattr(slave, &modes) != 0) throw std::runtime_error("no terminal");
  modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  ::tcsetattr(slave, TCSANOW, &modes);
  return {master, slave};
}

}  // namespace

std::filesystem::path brintle_path() { return BRINTLE_EXE; }

namespace {

// Forks; the child wires its streams, environment, limits and user as `options` says, then
// runs `body` and ends with status 0 unless `body` ends it first.
RunResult run_child(const std::function<void()>& body, const RunOptions& options) {
  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0 || ::pipe(in_pipe) != 0) {
    throw std::runtime_error("pipe failed");
  }
  auto [master, slave] = options.out == Sink::Terminal ? open_terminal() : std::pair(-1, -1);
  std::fflush(nullptr);  // nothing buffered here may reach the child's streams
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) _exit(126);
    set_env(options);
    ::dup2(in_pipe[0], 0);
    // A reader that is gone before the child starts: close the read end in the child too.
    if (options.out == Sink::ClosedByReader) ::close(out_pipe[0]);
    if (options.err == Sink::ClosedByReader) ::close(err_pipe[0]);
    wire_sink(1, options.out, slave >= 0 ? slave : out_pipe[1]);
    wire_sink(2, options.err, options.err == Sink::Terminal ? slave : err_pipe[1]);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], in_pipe[0], in_pipe[1],
                   master, slave}) {
      if (fd > 2) ::close(fd);
    }
    if (options.file_size_limit) {
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (options.run_as) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(options.run_as->gid) != 0 ||
          ::setuid(options.run_as->uid) != 0) {
        _exit(125);
      }
    }
    ::alarm(options.time_limit);  // survives exec
    body();
    std::fflush(nullptr);
    _exit(0);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (slave >= 0) {
    ::close(slave);
    ::close(out_pipe[0]);
    out_pipe[0] = master;  // read the terminal in place of the pipe
  }
  ::close(in_pipe[0]);
  if (options.out == Sink::ClosedByReader) ::close(out_pipe[0]);
  if (options.err == Sink::ClosedByReader) ::close(err_pipe[0]);
  if (!options.stdin_text.empty()) {
    (void)!::write(in_pipe[1], options.stdin_text.data(), options.stdin_text.size());
  }
  ::close(in_pipe[1]);
  RunResult result;
  drain(options.out == Sink::ClosedByReader ? -1 : out_pipe[0],
        options.err == Sink::ClosedByReader ? -1 : err_pipe[0], result.out, result.err);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace

RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options) {
  return run_child(
      [&] {
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        _exit(127);
      },
      options);
}

RunResult run_function(const std::function<void()>& body, const RunOptions& options) {
  return run_child(body, options);
}

int run_until(const std::vector<std::string>& argv, int signal,
              const std::function<bool()>& ready) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  ::posix_spawnattr_init(&attributes);
  sigset_t defaults;  // even where the tests run with the signal ignored
  sigemptyset(&defaults);
  sigaddset(&defaults, signal);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  if (spawned != 0) throw std::runtime_error("posix_spawn failed");
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (!ready()) continue;
    ::kill(pid, signal);
    ::waitpid(pid, &status, 0);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void PrintTo(const RunResult& result, std::ostream* os) {
  *os << "status " << result.status << ", out " << ::testing::PrintToString(result.out)
      << ", err " << ::testing::PrintToString(result.err);
}

RunResult run_brintle(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{brintle_path().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, options);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brintle-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave directories without write or search permission behind.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
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
    std::string& value = entries[entry.path().lexically_relative(root).string()];
    if (entry.is_symlink()) {
      value = "-> " + std::filesystem::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      value = "<dir>";
    } else {
      value = entry.is_regular_file() ? read_file(entry.path()) : "<other>";
    }
  }
  return entries;
}

void make_tree(const std::filesystem::path& root, const Tree& tree) {
  for (const auto& [relative, value] : tree) {
    const std::filesystem::path path = root / relative;
    if (value == "<dir>") {
      std::filesystem::create_directories(path);
    } else if (value == "<fifo>") {
      std::filesystem::create_directories(path.parent_path());
      if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
    } else if (value.starts_with("-> ")) {
      std::filesystem::create_directories(path.parent_path());
      std::filesystem::create_symlink(value.substr(3), path);
    } else {
      write_file(path, value);
    }
  }
}

}  // namespace testing_support
