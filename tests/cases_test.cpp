// End-to-end cases kept as data, in tests/cases/*.txt: each case runs the built program in a
// fresh temporary directory and compares what a user sees, byte for byte.
//
//   === title                     starts a case
//   # text                        a comment
//   env NAME=VALUE                set for every later run of the case (the colour variables
//                                 are unset unless a case sets them)
//   given PATH                    a file made before the next run; its lines follow, each "|text"
//   given PATH [BYTES]            a file made before the next run, its bytes written as below
//   dir PATH                      a directory made before the next run
//   cd PATH                       later runs start in PATH (below the temporary directory)
//   run [ARG] [ARG]...            runs the program; in arguments and paths, any byte may be
//                                 written %XX ("%", "[" and "]" must be)
//   tty [ARG]...                  the same on a pseudo-terminal with TERM=xterm-256color
//   status S stdout N stderr M    what the run before gave: N then M raw bytes follow, each
//                                 followed by a line feed (a tty run gives both as stdout)
//   file PATH N                   the file as it is then: N raw bytes follow, then a line feed
//   tree N                        the N entries under the temporary directory then, one a line,
//                                 directories with a final "/"
//
// The temporary directory's path is written {root} in expected bytes. BRINTLE_UPDATE_CASES=1
// writes what the runs gave in place of what the files expected (then review the diff), and
// BRINTLE_CASES_PROGRAM runs another program in place of brintle, such as a reference parser.
#include "support/cases.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// The decoded values of the "[...]" groups of a line.
std::vector<std::string> bracketed(std::string_view line) {
  std::vector<std::string> values;
  for (std::size_t open = line.find('['); open != line.npos; open = line.find('[', open)) {
    const std::size_t close = line.find(']', open);
    values.push_back(decoded(line.substr(open + 1, close - open - 1)));
    open = close;
  }
  return values;
}

// Whether `line` is the keyword alone or the keyword and a blank.
bool is_keyword(std::string_view line, std::string_view keyword) {
  return line.starts_with(keyword) && (line.size() == keyword.size() || line[keyword.size()] == ' ');
}

// The text after a line's keyword and its blank.
std::string after_keyword(const std::string& line) {
  const std::size_t space = line.find(' ');
  return space == line.npos ? "" : line.substr(space + 1);
}

std::string with_placeholder(std::string text, const fs::path& root) {
  const std::string& path = root.native();
  for (std::size_t at = text.find(path); at != text.npos; at = text.find(path, at)) {
    text.replace(at, path.size(), "{root}");
  }
  return text;
}

// One case while it runs: its directory, its settings and the files still to make.
struct CaseRun {
  TempDir dir;
  fs::path root = fs::canonical(dir.path());
  RunOptions options{.cwd = root};
  std::vector<std::pair<fs::path, std::string>> given;

  void make_given() {
    for (const auto& [path, bytes] : given) write_file(root / path, bytes);
    given.clear();
  }
  // The block that describes what the line's run gave.
  std::string run(const std::string& line) {
    make_given();
    const char* other_program = std::getenv("BRINTLE_CASES_PROGRAM");
    std::vector<std::string> argv = bracketed(line);
    argv.insert(argv.begin(), other_program ? other_program : brintle_path().string());
    RunOptions run_options = options;
    if (is_keyword(line, "tty")) {
      run_options.out = run_options.err = Sink::Terminal;
      run_options.env["TERM"] = "xterm-256color";
    }
    const RunResult r = run_program(argv, run_options);
    const std::string out = with_placeholder(r.out, root), err = with_placeholder(r.err, root);
    return fmt::format("status {} stdout {} stderr {}\n{}\n{}\n", r.status, out.size(), err.size(),
                       out, err);
  }
  std::string file(const std::string& path) {
    make_given();
    const fs::path at = root / decoded(path);
    const std::string bytes =
        with_placeholder(fs::is_regular_file(at) ? read_file(at) : "<missing>", root);
    return fmt::format("file {} {}\n{}\n", path, bytes.size(), bytes);
  }
  std::string tree() {
    make_given();
    std::string lines;
    for (const auto& [path, value] : snapshot(root))
      lines += path + (value == "<dir>" ? "/\n" : "\n");
    return fmt::format("tree {}\n{}", std::ranges::count(lines, '\n'), lines);
  }
};

class Cases : public ::testing::TestWithParam<std::string> {};

TEST_P(Cases, GiveWhatTheyExpect) {
  const fs::path file = fs::path(BRINTLE_SOURCE_DIR) / "tests/cases" / (GetParam() + ".txt");
  const std::string text = read_file(file);
  std::string updated, title;
  std::unique_ptr<CaseRun> run;
  std::size_t at = 0, case_start = 0, updated_start = 0;
  // Each case is compared whole once it ends: the text it expects against what it gave.
  const auto end_case = [&] {
    if (run) {
      EXPECT_EQ(updated.substr(updated_start), text.substr(case_start, at - case_start))
          << "in case: " << title;
    }
    case_start = at;
    updated_start = updated.size();
  };
  const auto next_line = [&] {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    at = end + 1;
    return line;
  };
  // Passes over an expected block: its line, then the byte counts it names.
  const auto skip_expected = [&](std::string_view keyword) {
    if (!std::string_view(text).substr(std::min(at, text.size())).starts_with(keyword)) return;
    const std::string line = next_line();
    std::size_t out = 0, err = 0;
    if (keyword == "status ") {
      std::sscanf(line.c_str(), "status %*d stdout %zu stderr %zu", &out, &err);
      at += out + err + 2;
    } else if (keyword == "tree ") {
      for (auto count = std::stoul(line.substr(5)); count > 0; --count) next_line();
    } else {
      at += std::stoul(line.substr(line.rfind(' ') + 1)) + 1;
    }
  };
  while (at < text.size()) {
    const std::size_t line_start = at;
    const std::string line = next_line();
    const std::string rest = after_keyword(line);
    if (line.starts_with("=== ")) {
      at = line_start;
      end_case();
      next_line();
      title = line.substr(4);
      run = std::make_unique<CaseRun>();
    }
    if (run && line.starts_with("|")) {
      run->given.back().second += line.substr(1) + "\n";
    } else if (run && line.starts_with("env ")) {
      run->options.env[rest.substr(0, rest.find('='))] = decoded(rest.substr(rest.find('=') + 1));
    } else if (run && line.starts_with("cd ")) {
      run->options.cwd = run->root / decoded(rest);
    } else if (run && line.starts_with("dir ")) {
      fs::create_directories(run->root / decoded(rest));
    } else if (run && line.starts_with("given ")) {
      const std::size_t bracket = rest.find(" [");
      run->given.emplace_back(decoded(rest.substr(0, bracket)),
                              bracket == rest.npos ? "" : bracketed(rest.substr(bracket)).front());
    } else if (run && (is_keyword(line, "run") || is_keyword(line, "tty"))) {
      skip_expected("status ");
      updated += line + "\n" + run->run(line);
      continue;
    } else if (run && line.starts_with("file ")) {
      const bool counted = std::isdigit(static_cast<unsigned char>(line.back())) &&
                           std::ranges::count(line, ' ') > 1;
      updated += run->file(counted ? line.substr(5, line.rfind(' ') - 5) : line.substr(5));
      if (counted) at += std::stoul(line.substr(line.rfind(' ') + 1)) + 1;
      continue;
    } else if (run && is_keyword(line, "tree")) {
      if (line.size() > 5) {
        at = line_start;
        skip_expected("tree ");
      }
      updated += run->tree();
      continue;
    }
    updated += line + "\n";
  }
  at = text.size();
  end_case();
  EXPECT_FALSE(title.empty()) << "no case in " << file;
  if (std::getenv("BRINTLE_UPDATE_CASES") != nullptr) std::ofstream(file) << updated;
}

std::vector<std::string> case_files() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(BRINTLE_SOURCE_DIR "/tests/cases")) {
    names.push_back(entry.path().stem().string());
  }
  std::ranges::sort(names);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Data, Cases, ::testing::ValuesIn(case_files()),
                         [](const auto& info) { return info.param; });

}  // namespace
