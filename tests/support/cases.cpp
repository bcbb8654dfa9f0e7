#include "support/cases.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <utf8proc.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "support/process.h"

namespace testing_support {

namespace {

// The bytes in a form that fits on one line: visible characters stay readable, and everything
// a reader could not see or tell apart is written %XX.
std::string encoded(std::string_view bytes) {
  std::string text;
  while (!bytes.empty()) {
    utf8proc_int32_t c = -1;
    const auto* at = reinterpret_cast<const utf8proc_uint8_t*>(bytes.data());
    const auto size = std::max<utf8proc_ssize_t>(utf8proc_iterate(at, bytes.size(), &c), 1);
    const char kind = c < 0 ? 'C' : utf8proc_category_string(c)[0];
    const bool visible = c == ' ' || (c > 0x20 && c != 0x7F && c != '%' &&
                                      kind != 'C' && kind != 'Z' && kind != 'M');
    for (const char byte : bytes.substr(0, size)) {
      text += visible ? std::string(1, byte)
                      : fmt::format("%{:02X}", static_cast<unsigned char>(byte));
    }
    bytes.remove_prefix(size);
  }
  return text;
}

}  // namespace

std::string result_lines(std::string_view label, std::string_view bytes) {
  std::string lines;
  while (!bytes.empty()) {
    const std::size_t end = std::min(bytes.find('\n'), bytes.size());
    std::string line = encoded(bytes.substr(0, end));
    // A blank at the end of a line is kept where editors would take it away.
    if (line.ends_with(' ')) line.replace(line.size() - 1, 1, "%20");
    const std::string shown = std::string(label) + line + (end == bytes.size() ? "%" : "");
    lines += (shown.empty() ? ">" : "> " + shown) + "\n";
    bytes.remove_prefix(std::min(end + 1, bytes.size()));
  }
  return lines;
}

std::vector<std::string> bracketed(std::string_view line) {
  std::vector<std::string> values;
  for (std::size_t open = line.find('['); open != line.npos; open = line.find('[', open)) {
    const std::size_t close = line.find(']', open);
    values.push_back(decoded(line.substr(open + 1, close - open - 1)));
    open = close;
  }
  return values;
}

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

namespace {

std::vector<std::string> lines_of(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(read_file(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool is_directive(const std::string& line) {
  return !line.empty() && !line.starts_with('#') && !line.starts_with('|') &&
         !line.starts_with('>');
}

// The index of each case's first line. A case runs to the next one's start.
std::vector<std::size_t> case_starts(const std::vector<std::string>& lines) {
  const bool titled = std::ranges::any_of(lines, [](const auto& l) { return l.starts_with("==="); });
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (titled ? lines[i].starts_with("===") : is_directive(lines[i])) starts.push_back(i);
  }
  return starts;
}

// Letters and digits of the title, every other run of bytes one "_".
std::string name_part(std::string_view title) {
  std::string name;
  for (const char c : title) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (name.ends_with('_')) name.pop_back();
  return name;
}

// Runs the directives of lines [begin, end) and gives those lines as they would be with what
// the directives gave.
std::string run_case(const std::filesystem::path& file, const std::vector<std::string>& lines,
                     std::size_t begin, std::size_t end, const Directive& directive) {
  std::string updated;
  for (std::size_t i = begin; i < end;) {
    const std::size_t number = i + 1;
    const std::string& line = lines[i++];
    updated += line + "\n";
    if (!is_directive(line)) continue;
    std::string text, expected;
    for (; i < end && lines[i].starts_with('|'); ++i) {
      text += lines[i].substr(1) + "\n";
      updated += lines[i] + "\n";
    }
    for (; i < end && lines[i].starts_with('>'); ++i) expected += lines[i] + "\n";
    SCOPED_TRACE(fmt::format("{}:{}: {}", file.string(), number, line));
    const std::string actual = directive(line, text);
    EXPECT_EQ(actual, expected);
    updated += actual;
  }
  return updated;
}

// The case-th case of the file. The file is read when the test runs, as an earlier case may
// have rewritten it (BRINTLE_UPDATE_CASES): the cases keep their order, not their lines.
class CaseTest : public ::testing::Test {
 public:
  CaseTest(std::filesystem::path file, std::size_t index,
           std::function<Directive()> make_directive)
      : file_(std::move(file)), index_(index), make_directive_(std::move(make_directive)) {}

  void TestBody() override {
    const std::vector<std::string> lines = lines_of(file_);
    const std::vector<std::size_t> starts = case_starts(lines);
    ASSERT_LT(index_, starts.size()) << file_;
    const std::size_t begin = starts[index_];
    const std::size_t end = index_ + 1 < starts.size() ? starts[index_ + 1] : lines.size();
    const std::string updated = run_case(file_, lines, begin, end, make_directive_());
    if (std::getenv("BRINTLE_UPDATE_CASES") == nullptr) return;
    std::string whole;
    for (std::size_t i = 0; i < begin; ++i) whole += lines[i] + "\n";
    whole += updated;
    for (std::size_t i = end; i < lines.size(); ++i) whole += lines[i] + "\n";
    std::ofstream(file_) << whole;
  }

 private:
  std::filesystem::path file_;
  std::size_t index_;
  std::function<Directive()> make_directive_;
};

// The test's name in the file: its title, or its line and function when it has no title.
std::string case_name(const std::string& first, std::size_t number) {
  if (first.starts_with("===")) return name_part(first.substr(3));
  return fmt::format("L{}_{}", number, name_part(first.substr(0, first.find(' '))));
}

}  // namespace

void register_cases(const std::filesystem::path& file, const char* suite,
                    std::function<Directive()> make_directive) {
  const std::vector<std::string> lines = lines_of(file);
  const std::vector<std::size_t> starts = case_starts(lines);
  const auto add = [&](const std::string& name, std::size_t index, std::size_t number) {
    ::testing::RegisterTest(suite, (file.stem().string() + "/" + name).c_str(), nullptr, nullptr,
                            file.c_str(), static_cast<int>(number), [=]() -> ::testing::Test* {
                              return new CaseTest(file, index, make_directive);
                            });
  };
  // A file without cases is a failure of its own, not a silent pass.
  if (starts.empty()) add("no_cases", 0, 1);
  std::set<std::string> names;
  for (std::size_t index = 0; index < starts.size(); ++index) {
    const std::string base = case_name(lines[starts[index]], starts[index] + 1);
    std::string name = base;
    for (int n = 2; !names.insert(name).second; ++n) name = fmt::format("{}_{}", base, n);
    add(name, index, starts[index] + 1);
  }
}

bool register_unit_cases(std::string_view name, UnitFunctions functions) {
  const auto file =
      std::filesystem::path(BRINTLE_SOURCE_DIR) / "tests/units" / (std::string(name) + ".txt");
  const auto directive = [functions = std::move(functions)](std::string_view line,
                                                            const std::string& text) {
    std::vector<std::string> inputs = bracketed(line);
    if (!text.empty()) inputs.push_back(text);
    const auto function = functions.find(line.substr(0, line.find(' ')));
    if (function == functions.end()) return result_lines("", "<no such function>\n");
    return result_lines("", function->second(inputs) + "\n");
  };
  register_cases(file, "Units", [directive] { return Directive(directive); });
  return true;
}

}  // namespace testing_support
