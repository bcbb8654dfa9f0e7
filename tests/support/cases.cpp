#include "support/cases.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <utf8proc.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "support/process.h"

namespace testing_support {

namespace {

// The bytes in a form that fits between brackets on one line: visible characters stay
// readable, and everything a reader could not see or tell apart is written %XX.
std::string encoded(std::string_view bytes) {
  std::string text;
  while (!bytes.empty()) {
    utf8proc_int32_t c = -1;
    const auto* at = reinterpret_cast<const utf8proc_uint8_t*>(bytes.data());
    const auto size = std::max<utf8proc_ssize_t>(utf8proc_iterate(at, bytes.size(), &c), 1);
    const char kind = c < 0 ? 'C' : utf8proc_category_string(c)[0];
    const bool visible = c >= 0x20 && c != 0x7F && c != '%' && c != '[' && c != ']' &&
                         kind != 'C' && kind != 'Z' && kind != 'M';
    for (const char byte : bytes.substr(0, size)) {
      text += visible || byte == ' ' ? std::string(1, byte)
                                     : fmt::format("%{:02X}", static_cast<unsigned char>(byte));
    }
    bytes.remove_prefix(size);
  }
  return text;
}

struct Call {
  std::string function;
  std::vector<std::string> inputs = {};
  std::optional<std::string> expected = {};  // set on a one-line case ("=" without "[...]": new)
  bool lines = false;                        // whether "|" lines have started an input
};

Call read_call(std::string_view line) {
  Call call{std::string(line.substr(0, line.find(' ')))};
  for (std::size_t at = line.find_first_of("[="); at != line.npos;
       at = line.find_first_of("[=", at + 1)) {
    const std::size_t open = line.find('[', at), close = line.find(']', open);
    const std::string value =
        open == line.npos ? "<not yet expected>" : decoded(line.substr(open + 1, close - open - 1));
    if (line[at] == '=') return call.expected = value, call;
    call.inputs.push_back(value);
    at = close;
  }
  return call;
}

}  // namespace

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

void check_unit_cases(std::string_view name, const UnitFunctions& functions) {
  const auto file =
      std::filesystem::path(BRINTLE_SOURCE_DIR) / "tests/units" / (std::string(name) + ".txt");
  const std::string text = read_file(file);
  std::string updated;
  std::optional<Call> open;  // a case still reading its lines
  std::size_t at = 0, number = 0, cases = 0;
  const auto check = [&](const Call& call, const std::string& expected) {
    ++cases;
    const auto function = functions.find(call.function);
    const std::string actual = function == functions.end() ? "<no function " + call.function + ">"
                                                           : function->second(call.inputs);
    EXPECT_EQ(actual, expected);
    return actual;
  };
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    SCOPED_TRACE(fmt::format("{}:{}: {}", file.string(), ++number, line));
    if (open && line.starts_with('|')) {
      if (!std::exchange(open->lines, true)) open->inputs.emplace_back();
      open->inputs.back() += line.substr(1) + "\n";
      updated += line + "\n";
    } else if (open && (line == "out" || line.starts_with("out "))) {
      const std::size_t count = line == "out" ? 0 : std::stoul(line.substr(4));
      const std::string actual =
          check(*open, line == "out" ? "<not yet expected>" : text.substr(at, count));
      at += line == "out" ? 0 : count + 1;
      updated += fmt::format("out {}\n{}\n", actual.size(), actual);
      open.reset();
    } else if (line.empty() || line.starts_with('#')) {
      updated += line + "\n";
    } else if (Call call = read_call(line); call.expected) {
      const std::string actual = check(call, *call.expected);
      updated += line.substr(0, line.find(" =")) + " = [" + encoded(actual) + "]\n";
    } else {
      open = std::move(call);
      updated += line + "\n";
    }
  }
  EXPECT_FALSE(open) << "a case without its \"out\" line";
  EXPECT_GT(cases, 0u) << file;
  if (std::getenv("BRINTLE_UPDATE_CASES") != nullptr) std::ofstream(file) << updated;
}

}  // namespace testing_support
