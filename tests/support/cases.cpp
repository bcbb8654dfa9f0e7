#include "support/cases.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <utf8proc.h>

#include <cstdlib>
#include <fstream>
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

std::string quoted(std::string_view label, std::string_view bytes) {
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

void check_case_file(const std::filesystem::path& file, const Directive& directive) {
  std::vector<std::string> lines;
  std::istringstream in(read_file(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::string updated;
  std::size_t directives = 0;
  for (std::size_t i = 0; i < lines.size();) {
    const std::size_t number = i + 1;
    const std::string& line = lines[i++];
    updated += line + "\n";
    if (line.empty() || line.starts_with('#')) continue;
    std::string text, expected;
    for (; i < lines.size() && lines[i].starts_with('|'); ++i) {
      text += lines[i].substr(1) + "\n";
      updated += lines[i] + "\n";
    }
    for (; i < lines.size() && lines[i].starts_with('>'); ++i) expected += lines[i] + "\n";
    SCOPED_TRACE(fmt::format("{}:{}: {}", file.string(), number, line));
    const std::string actual = directive(line, text);
    EXPECT_EQ(actual, expected);
    updated += actual;
    ++directives;
  }
  EXPECT_GT(directives, 0u) << file;
  if (std::getenv("BRINTLE_UPDATE_CASES") != nullptr) std::ofstream(file) << updated;
}

void check_unit_cases(std::string_view name, const UnitFunctions& functions) {
  const auto file =
      std::filesystem::path(BRINTLE_SOURCE_DIR) / "tests/units" / (std::string(name) + ".txt");
  check_case_file(file, [&](std::string_view line, const std::string& text) {
    std::vector<std::string> inputs = bracketed(line);
    if (!text.empty()) inputs.push_back(text);
    const auto function = functions.find(line.substr(0, line.find(' ')));
    if (function == functions.end()) return quoted("", "<no such function>\n");
    return quoted("", function->second(inputs) + "\n");
  });
}

}  // namespace testing_support
