// End-to-end cases kept as data, in tests/cases/*.txt: each case runs the built program in a
// fresh temporary directory and compares what a user sees, byte for byte.
//
//   === title                     starts a case
//   # text                        a comment
//   env NAME=VALUE                set for every run of the case (the colour variables are unset
//                                 unless a case sets them)
//   given PATH                    a file made before the runs; its lines follow, each "|text"
//   given PATH [BYTES]            a file made before the runs, its bytes escaped as arguments
//   dir PATH                      a directory made before the runs
//   cd PATH                       later runs start in PATH (below the temporary directory)
//   run [ARG] [ARG]...            runs the program; bytes outside printable ASCII, "%", "["
//                                 and "]" of an argument are written %XX
//   tty [ARG]...                  the same on a pseudo-terminal with TERM=xterm-256color
//   status S stdout N stderr M    what the run before gave: N then M raw bytes follow, then a
//                                 line feed (a tty run gives both streams as stdout)
//   file PATH N                   a file after the runs: N raw bytes follow, then a line feed
//   tree N                        the N entries under the temporary directory after the runs,
//                                 one a line, directories with a final "/"
//
// The temporary directory's path is written {root} in expected bytes. BRINTLE_UPDATE_CASES=1
// writes what the runs gave in place of what the files expected (then review the diff), and
// BRINTLE_CASES_PROGRAM runs another program in place of brintle, such as a reference parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// The generated parts of a case, which an update rewrites.
struct Run {
  std::string line;  // "run [...]" or "tty [...]"
  RunResult expected;
};
struct File {
  std::string path;
  std::string expected;
};
struct Tree {
  std::string expected;  // the entry lines
};
// A line kept as written: everything but the generated parts.
using Item = std::variant<std::string, Run, File, Tree>;

struct Case {
  std::string title;
  std::vector<Item> items;
};

// --- Reading ---

class Reader {
 public:
  explicit Reader(std::string text) : text_(std::move(text)) {}
  bool done() const { return at_ >= text_.size(); }
  std::string line() {
    const std::size_t end = std::min(text_.find('\n', at_), text_.size());
    std::string line = text_.substr(at_, end - at_);
    at_ = end + 1;
    return line;
  }
  std::string bytes(std::size_t count) {
    std::string bytes = text_.substr(at_, count);
    at_ += count + 1;  // and the line feed after them
    return bytes;
  }
  bool next_starts_with(std::string_view prefix) const {
    return std::string_view(text_).substr(at_).starts_with(prefix);
  }

 private:
  std::string text_;
  std::size_t at_ = 0;
};

// The text with each %XX written as the byte it stands for.
std::string decoded(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      bytes += text[i];
      continue;
    }
    bytes += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
    i += 2;
  }
  return bytes;
}

// The decoded values of "[...]" groups.
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

std::vector<Case> read_cases(const fs::path& file, std::string& preamble) {
  Reader in(read_file(file));
  std::vector<Case> cases;
  while (!in.done()) {
    std::string line = in.line();
    if (line.starts_with("=== ")) {
      cases.push_back({line.substr(4), {}});
    } else if (cases.empty()) {
      preamble += line + "\n";
    } else if (line.starts_with("status ")) {
      RunResult& r = std::get<Run>(cases.back().items.back()).expected;
      std::size_t out = 0, err = 0;
      std::sscanf(line.c_str(), "status %d stdout %zu stderr %zu", &r.status, &out, &err);
      r.out = in.bytes(out);
      r.err = in.bytes(err);
    } else if (is_keyword(line, "run") || is_keyword(line, "tty")) {
      cases.back().items.push_back(Run{line, {}});
    } else if (line.starts_with("file ")) {
      // A new expectation has no byte count yet: it fails until an update fills it in.
      const std::size_t space = line.rfind(' ');
      const std::string count = line.substr(space + 1);
      const bool counted = !count.empty() && std::ranges::all_of(count, ::isdigit) && space > 4;
      cases.back().items.push_back(counted ? File{line.substr(5, space - 5), in.bytes(std::stoul(count))}
                                           : File{line.substr(5), "<not yet expected>"});
    } else if (is_keyword(line, "tree")) {
      std::string entries;
      for (auto count = line.size() > 5 ? std::stoul(line.substr(5)) : 0; count > 0; --count)
        entries += in.line() + "\n";
      cases.back().items.push_back(Tree{entries});
    } else if (!line.empty() || !in.next_starts_with("=== ")) {
      cases.back().items.push_back(line);
    }
  }
  return cases;
}

// --- Running ---

std::string with_placeholder(std::string text, const std::string& root) {
  for (std::size_t at = text.find(root); at != text.npos; at = text.find(root, at)) {
    text.replace(at, root.size(), "{root}");
  }
  return text;
}

std::string tree_lines(const fs::path& root) {
  std::string lines;
  for (const auto& [path, value] : snapshot(root)) lines += path + (value == "<dir>" ? "/\n" : "\n");
  return lines;
}

// Runs the case and returns it with what the runs gave in place of what it expected.
Case run_case(const Case& expected) {
  TempDir tmp;
  const fs::path root = fs::canonical(tmp.path());
  const char* other_program = std::getenv("BRINTLE_CASES_PROGRAM");
  const std::string program = other_program ? other_program : brintle_path().string();
  RunOptions options{.cwd = root};
  std::vector<std::pair<fs::path, std::string>> given;  // written before the next run
  const auto make_given = [&] {
    for (const auto& [path, bytes] : given) write_file(root / path, bytes);
    given.clear();
  };
  Case actual{expected.title, {}};
  for (const Item& item : expected.items) {
    if (const auto* line = std::get_if<std::string>(&item)) {
      actual.items.push_back(*line);
      if (line->starts_with("|")) {
        given.back().second += line->substr(1) + "\n";
        continue;
      }
      const std::string rest = decoded(line->substr(line->find(' ') + 1));
      if (line->starts_with("env ")) {
        options.env[rest.substr(0, rest.find('='))] = rest.substr(rest.find('=') + 1);
      } else if (line->starts_with("cd ")) {
        options.cwd = root / rest;
      } else if (line->starts_with("dir ")) {
        fs::create_directories(root / rest);
      } else if (line->starts_with("given ")) {
        const std::size_t bracket = line->find(" [");
        given.emplace_back(decoded(line->substr(6, bracket - 6)),
                           bracket == line->npos ? "" : bracketed(line->substr(bracket)).front());
      }
      continue;
    }
    make_given();
    if (const auto* run = std::get_if<Run>(&item)) {
      std::vector<std::string> argv = bracketed(run->line);
      argv.insert(argv.begin(), program);
      RunOptions run_options = options;
      if (is_keyword(run->line, "tty")) {
        run_options.out = run_options.err = Sink::Terminal;
        run_options.env["TERM"] = "xterm-256color";
      }
      RunResult result = run_program(argv, run_options);
      result.out = with_placeholder(result.out, root.string());
      result.err = with_placeholder(result.err, root.string());
      actual.items.push_back(Run{run->line, result});
    } else if (const auto* file = std::get_if<File>(&item)) {
      const fs::path path = root / decoded(file->path);
      const std::string bytes = fs::is_regular_file(path) ? read_file(path) : "<missing>";
      actual.items.push_back(File{file->path, with_placeholder(bytes, root.string())});
    } else {
      actual.items.push_back(Tree{tree_lines(root)});
    }
  }
  return actual;
}

// --- Writing and comparing ---

std::string case_text(const Case& c) {
  std::string text = "=== " + c.title + "\n";
  for (const Item& item : c.items) {
    if (const auto* line = std::get_if<std::string>(&item)) {
      text += *line + "\n";
    } else if (const auto* run = std::get_if<Run>(&item)) {
      const RunResult& r = run->expected;
      text += run->line + "\nstatus " + std::to_string(r.status) + " stdout " +
              std::to_string(r.out.size()) + " stderr " + std::to_string(r.err.size()) + "\n" +
              r.out + "\n" + r.err + "\n";
    } else if (const auto* file = std::get_if<File>(&item)) {
      text += "file " + file->path + " " + std::to_string(file->expected.size()) + "\n" +
              file->expected + "\n";
    } else {
      const std::string& lines = std::get<Tree>(item).expected;
      text += "tree " + std::to_string(std::ranges::count(lines, '\n')) + "\n" + lines;
    }
  }
  return text;
}

class Cases : public ::testing::TestWithParam<std::string> {};

TEST_P(Cases, GiveWhatTheyExpect) {
  const fs::path file = fs::path(BRINTLE_SOURCE_DIR) / "tests/cases" / (GetParam() + ".txt");
  std::string preamble;
  const std::vector<Case> cases = read_cases(file, preamble);
  ASSERT_FALSE(cases.empty());
  std::string updated = preamble;
  for (const Case& c : cases) {
    const Case actual = run_case(c);
    EXPECT_EQ(case_text(actual), case_text(c)) << "in case: " << c.title;
    updated += (&c == cases.data() ? "" : "\n") + case_text(actual);
  }
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
