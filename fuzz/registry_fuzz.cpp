// The registry reader: any text reads without a crash into entries with distinct names, an
// entry that cannot be written back is refused, and the canonical text of entries reads back
// as the same entries in name order.
//
// The input serves twice: as a registry file, and as a list of entries, one line holding a
// name and the next its import path.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "generators/registry.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;
using generators::registry::RegistryEntry;

namespace {

// The registry file has no escapes, so a quote or a line break inside a name or a path
// cannot be written back; such entries are outside the round trip.
bool writable(std::string_view field) { return field.find_first_of("'\"\r\n") == field.npos; }

bool writable(const RegistryEntry& entry) {
  return writable(entry.name) && writable(entry.import_path);
}

// What the registry refuses to write back: a double quote, a backslash or a control character
// (C0, DEL or C1) in a name or an import path.
bool refused(std::string_view field) {
  for (std::size_t i = 0; i < field.size();) {
    const char32_t c = text::decode_utf8(field, i);
    if (c == '"' || c == '\\' || c < 0x20 || (c >= 0x7f && c <= 0x9f)) return true;
  }
  return false;
}

std::string describe(std::span<const RegistryEntry> entries) {
  std::string out;
  for (const RegistryEntry& entry : entries) {
    out += "[" + entry.name + " -> " + entry.import_path + "] ";
  }
  return out;
}

// The entries named by pairs of lines, without the ones that cannot be written back and
// without repeated names (the first one counts).
std::vector<RegistryEntry> entries_of_lines(std::string_view input) {
  const std::vector<std::string_view> lines = text::split_lines(input);
  std::vector<RegistryEntry> entries;
  std::set<std::string, std::less<>> names;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    RegistryEntry entry{std::string(lines[i]), std::string(lines[i + 1])};
    if (!writable(entry) || names.contains(entry.name)) continue;
    names.insert(entry.name);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<RegistryEntry> sorted_by_name(std::vector<RegistryEntry> entries) {
  std::ranges::stable_sort(entries, {}, &RegistryEntry::name);
  return entries;
}

// Writing the entries and reading them back gives them in name order, and the text is a
// fixed point: written again it is the same text.
void check_round_trip(std::span<const RegistryEntry> entries) {
  const std::string content = generators::registry::registry_content(entries);
  check(content.starts_with(generators::registry::kRegistryHeader),
        "the registry text starts with its header", content);
  check(content.ends_with("\n__all__ = [\"modules\"]\n"),
        "the registry text ends with its __all__ line", content);
  const std::vector<RegistryEntry> read = generators::registry::parse_registry(content).entries;
  const std::vector<RegistryEntry> expected =
      sorted_by_name({entries.begin(), entries.end()});
  check(read == expected, "parse_registry(registry_content(entries)) gives them in name order",
        "read " + describe(read) + "; expected " + describe(expected));
  check(generators::registry::registry_content(read) == content,
        "the canonical text is written the same again", content);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz_support::as_text(data, size);

  // The reader is never given anything but UTF-8 by the program; it must not crash on the
  // rest either.
  const generators::registry::RegistryText read = generators::registry::parse_registry(input);
  const std::vector<RegistryEntry>& parsed = read.entries;
  std::set<std::string_view> names;
  for (const RegistryEntry& entry : parsed) {
    check(names.insert(entry.name).second, "the reader yields each name once", describe(parsed));
    check(entry.name.find('\n') == std::string::npos &&
              entry.import_path.find('\n') == std::string::npos,
          "an entry read from one line holds no line feed", describe(parsed));
  }
  if (!text::is_valid_utf8(input)) return 0;

  for (const RegistryEntry& entry : parsed) {
    if (refused(entry.name) || refused(entry.import_path)) {
      check(read.unwritable_line != 0, "an entry that cannot be written back is refused",
            describe(parsed));
    }
  }

  if (std::ranges::all_of(parsed, [](const RegistryEntry& entry) { return writable(entry); })) {
    check_round_trip(parsed);
  }
  check_round_trip(entries_of_lines(input));
  return 0;
}
