#include "support/cases.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <optional>

#include <utf8proc.h>

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
  std::vector<std::string> inputs;
  std::optional<std::string> expected;  // set on a one-line case ("=" without "[...]": new)
};

Call read_call(std::string_view line) {
  Call call{std::string(line.substr(0, line.find(' '))), {}, {}};
  for (std::size_t at = line.find_first_of("[="); at != line.npos;
       at = line.find_first_of("[=", at)) {
    if (line[at] == '=') {
      const std::size_t open = line.find('[', at);
      call.expected = open == line.npos ? "<not yet expected>"
                                        : decoded(line.substr(open + 1, line.find(']', open) - open - 1));
      break;
    }
    const std::size_t close = line.find(']', at);
    call.inputs.push_back(decoded(line.substr(at + 1, close - at - 1)));
    at = close;
  }
  return call;
}

std::string called(const UnitFunctions& functions, const Call& call) {
  const auto function = functions.find(call.function);
  return function == functions.end() ? "<no function " + call.function + ">"
                                     : function->second(call.inputs);
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
  const auto file = std::filesystem::path(BRINTLE_SOURCE_DIR) / "tests/units" /
                    (std::string(name) + ".txt");
  const std::string text = read_file(file);
  std::string updated;
  std::optional<Call> open;  // a case still reading its lines
  bool lines = false;
  std::size_t at = 0, number = 0, cases = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    SCOPED_TRACE(fmt::format("{}:{}: {}", file.string(), number, line));
    if (open && line.starts_with('|')) {
      if (!std::exchange(lines, true)) open->inputs.emplace_back();
      open->inputs.back() += line.substr(1) + "\n";
      updated += line + "\n";
    } else if (open && (line == "out" || line.starts_with("out "))) {
      const std::size_t count = line == "out" ? 0 : std::stoul(line.substr(4));
      const std::string expected = line == "out" ? "<not yet expected>" : text.substr(at, count);
      at += line == "out" ? 0 : count + 1;
      const std::string actual = called(functions, *open);
      ++cases;
      EXPECT_EQ(actual, expected);
      updated += fmt::format("out {}\n{}\n", actual.size(), actual);
      open.reset();
    } else if (line.empty() || line.starts_with('#')) {
      updated += line + "\n";
    } else {
      Call call = read_call(line);
      if (!call.expected) {
        open = std::move(call);
        lines = false;
        updated += line + "\n";
        continue;
      }
      const std::string actual = called(functions, call);
      ++cases;
      EXPECT_EQ(actual, *call.expected);
      updated += line.substr(0, line.find(" =")) + " = [" + encoded(actual) + "]\n";
    }
  }
  EXPECT_FALSE(open) << "a case without its \"out\" line";
  EXPECT_GT(cases, 0u) << file;
  if (std::getenv("BRINTLE_UPDATE_CASES") != nullptr) std::ofstream(file) << updated;
}

}  // namespace testing_support
