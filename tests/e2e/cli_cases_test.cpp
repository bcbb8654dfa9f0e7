#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

// The parser's texts for the argument lists of tests/cli/cases.txt, byte for byte as the
// reference parser prints them (tests/cli/regenerate.py): on pipes, and on a terminal.
namespace {

using testing_support::RunResult;

struct Case {
  std::string line;
  std::vector<std::string> args;
  RunResult expected;
};

std::vector<std::string> parse_args(const std::string& line) {
  std::vector<std::string> args;
  static const std::regex bracketed(R"(\[([^\]]*)\])");
  for (std::sregex_iterator it(line.begin(), line.end(), bracketed), end; it != end; ++it) {
    std::string arg, encoded = (*it)[1];
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      if (encoded[i] != '%') { arg += encoded[i]; continue; }
      arg += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
    args.push_back(arg);
  }
  return args;
}

std::vector<Case> read_cases(const std::string& mode) {
  std::istringstream in(testing_support::read_file(std::string(BRINTLE_SOURCE_DIR) +
                                                   "/tests/cli/expected-" + mode + ".txt"));
  std::vector<Case> cases;
  for (std::string line, counts; std::getline(in, line) && std::getline(in, counts);) {
    Case c{line, parse_args(line), {}};
    std::size_t out = 0, err = 0;
    std::sscanf(counts.c_str(), "status %d stdout %zu stderr %zu", &c.expected.status, &out, &err);
    c.expected.out.resize(out);
    c.expected.err.resize(err);
    in.read(c.expected.out.data(), static_cast<std::streamsize>(out));
    in.read(c.expected.err.data(), static_cast<std::streamsize>(err));
    in.ignore(1);
    cases.push_back(std::move(c));
  }
  return cases;
}

// Both streams on one pseudo-terminal, as a user's terminal shows them.
RunResult run_on_terminal(const std::vector<std::string>& args) {
  const std::string program = testing_support::brintle_path();
  int fd = -1;
  const pid_t pid = ::forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    char term[] = "TERM=xterm-256color";
    char* env[] = {term, nullptr};
    ::execve(argv[0], argv.data(), env);
    ::_exit(127);
  }
  RunResult result;
  char buffer[4096];
  // The terminal reports EIO once the program has exited and its output is read.
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) result.out.append(buffer, n);
  ::close(fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WEXITSTATUS(status);
  return result;
}

TEST(CliCases, PrintWhatTheReferenceParserPrintsOnPipes) {
  const auto cases = read_cases("pipe");
  ASSERT_GT(cases.size(), 100u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(testing_support::run_brintle(c.args), c.expected);
  }
}

TEST(CliCases, PrintWhatTheReferenceParserPrintsOnATerminal) {
  const auto cases = read_cases("pty");
  ASSERT_GT(cases.size(), 100u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(run_on_terminal(c.args), c.expected);
  }
}

}  // namespace
