#include "generators/registry.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>

#include <fmt/core.h>

#include "files/files.h"
#include "layout/layout.h"
#include "naming/naming.h"
#include "text/text.h"

namespace generators::registry {

namespace {

constexpr std::string_view kDocstringQuotes = R"(""")";

// Whether a trimmed line opens the dictionary: "modules", an optional annotation, "=" and "{".
bool opens_dictionary(std::string_view line) {
  if (!line.starts_with(kRegistryVar)) return false;
  std::string_view rest = text::trim_start(line.substr(kRegistryVar.size()));
  if (rest.empty()) return false;
  if (rest.front() == ':') {
    // An annotation stands between the name and the "=".
    const std::size_t equals = rest.find('=', 1);
    if (equals == std::string_view::npos) return false;
    rest = rest.substr(equals + 1);
  } else if (rest.front() == '=') {
    rest = rest.substr(1);
  } else {
    return false;
  }
  return text::trim_start(rest).starts_with('{');
}

// The text between the first quote (either kind) at or after `from` and the next quote of the
// same kind; `from` moves past the closing quote.
std::optional<std::string_view> quoted(std::string_view line, std::size_t& from) {
  const std::size_t open = line.find_first_of("'\"", from);
  if (open == std::string_view::npos) return std::nullopt;
  const std::size_t close = line.find(line[open], open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  from = close + 1;
  return line.substr(open + 1, close - open - 1);
}

// The key and value of a line inside the dictionary: a quoted key, a ":" and a quoted value.
std::optional<std::pair<std::string_view, std::string_view>> parse_entry(std::string_view line) {
  std::size_t pos = 0;
  const std::optional<std::string_view> key = quoted(line, pos);
  if (!key) return std::nullopt;
  pos = line.find(':', pos);
  if (pos == std::string_view::npos) return std::nullopt;
  const std::optional<std::string_view> value = quoted(line, pos);
  if (!value) return std::nullopt;
  return std::pair{*key, *value};
}

// Stores the entry, replacing the value of an entry of the same name in its place.
void upsert(std::vector<RegistryEntry>& entries, RegistryEntry entry) {
  const auto same = std::ranges::find(entries, entry.name, &RegistryEntry::name);
  if (same != entries.end()) {
    same->import_path = std::move(entry.import_path);
  } else {
    entries.push_back(std::move(entry));
  }
}

}  // namespace

std::string registry_content(std::span<const RegistryEntry> entries) {
  std::vector<std::reference_wrapper<const RegistryEntry>> sorted(entries.begin(), entries.end());
  std::ranges::stable_sort(sorted, std::less<>{},
                           [](const RegistryEntry& entry) -> const std::string& {
                             return entry.name;
                           });
  std::vector<std::string> lines;
  lines.reserve(sorted.size());
  for (const RegistryEntry& entry : sorted) {
    // Written without escapes, since the reader knows none either.
    lines.push_back(fmt::format(R"(    "{}": "{}",)", entry.name, entry.import_path));
  }
  return fmt::format("{}\n\n{}: dict[str, str] = {{\n{}\n}}\n\n__all__ = [\"{}\"]\n",
                     kRegistryHeader, kRegistryVar, text::join_lines(lines), kRegistryVar);
}

std::vector<RegistryEntry> parse_registry(std::string_view content) {
  std::vector<RegistryEntry> entries;
  // Where each name stands in `entries`, so that a repeated name is found without a scan of
  // the whole list (a scan per line made reading quadratic). The keys view `content`, which
  // outlives the map, not the entries, whose strings move when the vector grows.
  std::unordered_map<std::string_view, std::size_t> position_of;
  bool inside = false;
  for (std::string_view raw_line : text::split_lines(content)) {
    const std::string_view line = text::trim(raw_line);
    if (!inside) {
      // Whatever follows the "{" on the opening line is not read.
      inside = opens_dictionary(line);
      continue;
    }
    if (line.empty()) continue;
    if (line.front() == '}') break;
    const auto entry = parse_entry(line);
    if (!entry) continue;
    const auto [slot, inserted] = position_of.try_emplace(entry->first, entries.size());
    if (inserted) {
      entries.push_back({std::string(entry->first), std::string(entry->second)});
    } else {
      entries[slot->second].import_path = entry->second;
    }
  }
  return entries;
}

std::vector<RegistryEntry> read_registry(const std::filesystem::path& root,
                                         std::optional<std::string_view> source) {
  const error::Result<std::string> content = files::read_text(layout::registry_path(root, source));
  if (!content) return {};
  return parse_registry(*content);
}

std::string module_description(const std::filesystem::path& init_file) {
  const error::Result<std::string> content = files::read_text(init_file);
  if (!content) return {};
  const std::string_view body = text::trim_start(*content);
  if (!body.starts_with(kDocstringQuotes)) return {};
  const std::size_t close = body.find(kDocstringQuotes, kDocstringQuotes.size());
  if (close == std::string_view::npos) return {};
  const std::string_view docstring =
      text::trim(body.substr(kDocstringQuotes.size(), close - kDocstringQuotes.size()));
  const std::vector<std::string_view> lines = text::split_lines(docstring);
  if (lines.empty()) return {};
  return std::string(text::trim(lines.front()));
}

std::vector<RegisteredModule> list_registered(const std::filesystem::path& root,
                                              std::optional<std::string_view> source) {
  const std::string source_name = layout::source_or_detected(root, source);
  std::vector<RegisteredModule> rows;
  const std::filesystem::path modules_dir = root / source_name / "modules";
  for (RegistryEntry& entry : read_registry(root, source_name)) {
    // The key names the module's directory; the import path is only shown.
    std::string description = module_description(modules_dir / entry.name / "__init__.py");
    rows.push_back({std::move(entry.name), std::move(entry.import_path), std::move(description)});
  }
  return rows;
}

error::Result<writers::GeneratedFile> register_module(const std::filesystem::path& root,
                                                      std::string_view feature,
                                                      std::optional<std::string_view> source,
                                                      bool dry_run) {
  const std::string source_name = layout::source_or_detected(root, source);
  std::filesystem::path path = layout::registry_path(root, source_name);
  std::optional<std::string> current;  // the registry as it stands, when there is one
  if (files::exists(path)) {
    // A registry that cannot be read is the user's to fix; rewriting it would lose it.
    error::Result<std::string> text = files::read_text(path);
    if (!text) return error::fail(std::move(text.error()));
    current = std::move(*text);
  }
  std::vector<RegistryEntry> entries;
  if (current) entries = parse_registry(*current);
  std::string key = naming::to_snake(feature);
  std::string import_path = fmt::format("{}.modules.{}", source_name, key);
  upsert(entries, {std::move(key), std::move(import_path)});
  std::string content = registry_content(entries);
  if (current &&
      text::strip_trailing_newlines(*current) == text::strip_trailing_newlines(content)) {
    return writers::GeneratedFile{std::move(path), std::move(content),
                                  writers::WriteStatus::Skipped};
  }
  return writers::write_file(path, content, /*force=*/true, dry_run);
}

}  // namespace generators::registry
