// End-to-end cases kept as data, in tests/cases/*.txt, in the form support/cases.h describes:
// each case runs the built program in a fresh temporary directory and compares what a user
// sees, byte for byte. Its directives:
//
//   === title                  starts a case
//   env NAME=VALUE             set for every later run of the case (the colour variables are
//                              unset unless a case sets them)
//   given PATH                 a file of the "|" lines that follow
//   given PATH [BYTES]         a file of those bytes
//   given PATH ENTRY           "<dir>", "<fifo>", "-> TARGET" (a symbolic link) or "=> PATH" (a
//                              second name of an entry made before)
//   cd PATH                    later runs start in PATH (below the temporary directory)
//   cd PATH <gone>             the same, but each run removes PATH once it is in it, before
//                              the program starts (PATH must be an empty directory)
//   limit BYTES                later runs may write files of at most BYTES
//   run [ARG]...               runs the program: "> status S", then stdout ("> out|" lines)
//                              and stderr ("> err|" lines)
//   tty [ARG]...               the same on a pseudo-terminal with TERM=xterm-256color, where
//                              both streams come out as stdout
//   file PATH                  the file's bytes ("> |" lines), or "> missing"
//   tree                       every entry under the temporary directory, directories with a
//                              final "/"
//
// In arguments and paths, any byte may be written %XX ("%", "[" and "]" must be). The temporary
// directory's path is written {root} in what the directives give. BRINTLE_CASES_PROGRAM runs
// another program in place of brintle, such as a build of the parser the command line must
// match, whose texts then refresh cli.txt.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/cases.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

std::string with_placeholder(std::string text, const fs::path& root) {
  const std::string& path = root.native();
  for (std::size_t at = text.find(path); at != text.npos; at = text.find(path, at)) {
    text.replace(at, path.size(), "{root}");
  }
  return text;
}

// One case while it runs: its directory and the settings of its runs.
struct Case {
  TempDir dir;
  fs::path root = fs::canonical(dir.path());
  // No run of a case may wait forever, as on a FIFO.
  RunOptions options{.cwd = root, .time_limit = 60};

  std::string run(bool terminal, std::string_view line) {
    const char* other_program = std::getenv("BRINTLE_CASES_PROGRAM");
    std::vector<std::string> argv = bracketed(line);
    argv.insert(argv.begin(), other_program ? other_program : brintle_path().string());
    RunOptions run_options = options;
    if (options.cwd_gone) fs::create_directories(options.cwd);
    if (terminal) {
      run_options.out = run_options.err = Sink::Terminal;
      run_options.env["TERM"] = "xterm-256color";
    }
    const RunResult r = run_program(argv, run_options);
    return fmt::format("> status {}\n", r.status) +
           result_lines("out|", with_placeholder(r.out, root)) +
           result_lines("err|", with_placeholder(r.err, root));
  }
  std::string file(const fs::path& path) const {
    if (!fs::is_regular_file(root / path)) return "> missing\n";
    return result_lines("|", with_placeholder(read_file(root / path), root));
  }
  std::string tree() const {
    std::string lines;
    for (const auto& [path, value] : snapshot(root)) {
      lines += path + (value == "<dir>" ? "/\n" : "\n");
    }
    return result_lines("", lines);
  }
};

// The directive of one case: the "===" line that starts it makes its directory.
Directive case_directive() {
  return [c = std::shared_ptr<Case>()](std::string_view line,
                                       const std::string& text) mutable -> std::string {
    const std::string keyword(line.substr(0, line.find(' ')));
    const std::string rest(line.substr(std::min(keyword.size() + 1, line.size())));
    if (keyword == "===") {
      c = std::make_shared<Case>();
    } else if (!c) {
      ADD_FAILURE() << "a directive before the first case";
    } else if (keyword == "env") {
      c->options.env[rest.substr(0, rest.find('='))] = decoded(rest.substr(rest.find('=') + 1));
    } else if (keyword == "given") {
      const std::size_t space = std::min(rest.find(' '), rest.size());
      const std::string path = decoded(rest.substr(0, space));
      const std::string entry = rest.substr(std::min(space + 1, rest.size()));
      if (entry.empty() || entry.starts_with('[')) {
        write_file(c->root / path, entry.empty() ? text : bracketed(entry).front());
      } else {
        make_tree(c->root, {{path, entry}});
      }
    } else if (keyword == "cd") {
      c->options.cwd_gone = rest.ends_with(" <gone>");
      c->options.cwd = c->root / decoded(rest.substr(0, rest.find(" <gone>")));
    } else if (keyword == "limit") {
      c->options.file_size_limit = std::stoul(rest);
    } else if (keyword == "run" || keyword == "tty") {
      return c->run(keyword == "tty", rest);
    } else if (keyword == "file") {
      return c->file(decoded(rest));
    } else if (keyword == "tree") {
      return c->tree();
    } else {
      ADD_FAILURE() << "no such directive";
    }
    return "";
  };
}

const bool kRegistered = [] {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(BRINTLE_SOURCE_DIR "/tests/cases")) {
    files.push_back(entry.path());
  }
  std::ranges::sort(files);
  for (const fs::path& file : files) register_cases(file, "Cases", case_directive);
  return true;
}();

}  // namespace
