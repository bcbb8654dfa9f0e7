#include "generators/registry.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include <fmt/core.h>

#include "files/files.h"
#include "files/resolve.h"
#include "layout/layout.h"
#include "naming/naming.h"
#include "text/text.h"

namespace generators::registry {

namespace {

// Where the dictionary's text begins on a trimmed line that opens it ("modules", an optional
// annotation, "=" and "{"): just past the "{". None for any other line.
std::optional<std::size_t> dictionary_start(std::string_view line) {
  if (!line.starts_with(kRegistryVar)) return std::nullopt;
  std::string_view rest = text::trim_start(line.substr(kRegistryVar.size()));
  if (rest.empty()) return std::nullopt;
  if (rest.front() == ':') {
    // An annotation stands between the name and the "=".
    const std::size_t equals = rest.find('=', 1);
    if (equals == std::string_view::npos) return std::nullopt;
    rest = rest.substr(equals + 1);
  } else if (rest.front() == '=') {
    rest = rest.substr(1);
  } else {
    return std::nullopt;
  }
  rest = text::trim_start(rest);
  if (!rest.starts_with('{')) return std::nullopt;
  return line.size() - rest.size() + 1;
}

// The text between the first quote (either kind) at or after `from` and the next quote of the
// same kind; `from` moves past the closing quote.
std::optional<std::string_view> quoted(std::string_view line, std::size_t& from) {
  // A plain loop: a search for either of two characters costs a search of the pair per byte.
  std::size_t open = from;
  while (open < line.size() && line[open] != '"' && line[open] != '\'') ++open;
  if (open == line.size()) return std::nullopt;
  const std::size_t close = line.find(line[open], open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  from = close + 1;
  return line.substr(open + 1, close - open - 1);
}

using Entry = std::pair<std::string_view, std::string_view>;

// The entry that starts at or after `from`: a quoted key, a ":" and a quoted value; `from`
// moves past the value.
std::optional<Entry> entry_at(std::string_view line, std::size_t& from) {
  std::size_t pos = from;
  const std::optional<std::string_view> key = quoted(line, pos);
  if (!key) return std::nullopt;
  pos = line.find(':', pos);
  if (pos == std::string_view::npos) return std::nullopt;
  const std::optional<std::string_view> value = quoted(line, pos);
  if (!value) return std::nullopt;
  from = pos;
  return Entry{*key, *value};
}

bool holds_entry(std::string_view line) {
  std::size_t pos = 0;
  return entry_at(line, pos).has_value();
}

// The entries in reading order, each name once: a repeated name replaces the value in place.
class EntryList {
 public:
  void store(Entry entry) {
    // While the names come in increasing order, as in every file this program writes, a name
    // past the last is new; only a file out of order pays for the index of names.
    if (index_.empty() && (names_.empty() || names_.back() < entry.first)) {
      append(entry);
      return;
    }
    if (index_.empty()) {
      for (std::size_t i = 0; i < names_.size(); ++i) index_.try_emplace(names_[i], i);
    }
    const auto [slot, inserted] = index_.try_emplace(entry.first, entries_.size());
    if (inserted) {
      append(entry);
    } else {
      entries_[slot->second].import_path = entry.second;
    }
  }

  // The entries of `line` after `from`, one after another, until a "}" stands where the next
  // one would begin (the dictionary closes there: the result) or no whole entry follows.
  bool store_until_close(std::string_view line, std::size_t from) {
    for (;;) {
      const std::size_t next = line.find_first_of("'\"}", from);
      if (next == std::string_view::npos) return false;
      if (line[next] == '}') return true;
      const std::optional<Entry> entry = entry_at(line, from);
      if (!entry) return false;
      store(*entry);
    }
  }

  std::size_t size() const { return entries_.size(); }
  std::vector<RegistryEntry> take() && { return std::move(entries_); }

 private:
  void append(Entry entry) {
    names_.push_back(entry.first);
    entries_.push_back({std::string(entry.first), std::string(entry.second)});
  }

  std::vector<RegistryEntry> entries_;
  // The names as they stand in the text read, which outlives the list; unlike the entries'
  // strings they do not move when the vector grows.
  std::vector<std::string_view> names_;
  std::unordered_map<std::string_view, std::size_t> index_;
};

// Stores the entry, replacing the value of an entry of the same name in its place.
void upsert(std::vector<RegistryEntry>& entries, RegistryEntry entry) {
  const auto same = std::ranges::find(entries, entry.name, &RegistryEntry::name);
  if (same != entries.end()) {
    same->import_path = std::move(entry.import_path);
  } else {
    entries.push_back(std::move(entry));
  }
}

error::Error stray_entry(const std::filesystem::path& path, std::size_t line) {
  return error::Error(fmt::format(
      "{} holds an entry on line {} outside the `modules` dictionary, which rewriting the "
      "registry would lose: move it into the dictionary or remove it, then run the command again",
      files::quoted(path), line));
}

}  // namespace

std::string registry_content(std::span<const RegistryEntry> entries) {
  std::vector<const RegistryEntry*> sorted;
  sorted.reserve(entries.size());
  for (const RegistryEntry& entry : entries) sorted.push_back(&entry);
  const auto by_name = [](const RegistryEntry* entry) -> const std::string& { return entry->name; };
  // A registry read back is in order already, but for the one entry just added at its end:
  // that one moves into its place (after equal names, as the stable sort would put it).
  const auto unsorted = std::ranges::is_sorted_until(sorted, {}, by_name);
  if (sorted.end() - unsorted == 1) {
    const auto place =
        std::ranges::upper_bound(sorted.begin(), unsorted, (*unsorted)->name, {}, by_name);
    std::rotate(place, unsorted, sorted.end());
  } else if (unsorted != sorted.end()) {
    std::ranges::stable_sort(sorted, {}, by_name);
  }
  constexpr std::string_view kEntryStart = R"(    ")", kEntryMiddle = R"(": ")",
                             kEntryEnd = "\",\n";
  std::size_t size = 128;
  for (const RegistryEntry* entry : sorted) {
    size += kEntryStart.size() + entry->name.size() + kEntryMiddle.size() +
            entry->import_path.size() + kEntryEnd.size();
  }
  std::string content;
  content.reserve(size);
  content.append(kRegistryHeader).append("\n\n").append(kRegistryVar);
  content.append(": dict[str, str] = {\n");
  // Written without escapes, since the reader knows none either.
  for (const RegistryEntry* entry : sorted) {
    content.append(kEntryStart).append(entry->name).append(kEntryMiddle);
    content.append(entry->import_path).append(kEntryEnd);
  }
  if (sorted.empty()) content += '\n';
  content.append("}\n\n__all__ = [\"").append(kRegistryVar).append("\"]\n");
  return content;
}

RegistryText scan_registry(std::string_view content) {
  enum class State { Before, Inside, After };
  EntryList entries;
  State state = State::Before;
  std::size_t stray_line = 0;
  std::size_t number = 0;
  for (std::string_view raw_line : text::split_lines(content)) {
    ++number;
    const std::string_view line = text::trim(raw_line);
    if (state == State::Inside) {
      if (line.empty()) continue;
      if (line.front() == '}') {
        state = State::After;
        continue;
      }
      // The first entry is wherever the line's first quote is; more may follow it.
      std::size_t pos = 0;
      const std::optional<Entry> entry = entry_at(line, pos);
      if (!entry) continue;
      entries.store(*entry);
      entries.store_until_close(line, pos);
      continue;
    }
    if (const auto start = state == State::Before ? dictionary_start(line) : std::nullopt) {
      state = State::Inside;
      // A dictionary written on one line closes on it; "{}" alone is an empty one that the
      // entries of the next lines fill all the same.
      const bool closed = entries.store_until_close(line, *start);
      if (closed && entries.size() > 0) state = State::After;
      continue;
    }
    if (stray_line == 0 && holds_entry(line)) stray_line = number;
  }
  return {std::move(entries).take(), stray_line};
}

std::vector<RegistryEntry> parse_registry(std::string_view content) {
  return scan_registry(content).entries;
}

std::vector<RegistryEntry> read_registry(const std::filesystem::path& root,
                                         std::optional<std::string_view> source) {
  const error::Result<std::string> content = files::read_text(layout::registry_path(root, source));
  if (!content) return {};
  return parse_registry(*content);
}

std::string module_description(const std::filesystem::path& init_file) {
  const error::Result<std::string> content = files::read_text(init_file);
  return std::string(content ? text::docstring_first_line(*content) : std::string_view());
}

std::vector<RegisteredModule> list_registered(const std::filesystem::path& root,
                                              std::optional<std::string_view> source) {
  const std::string source_name = layout::source_or_detected(root, source);
  std::vector<RegistryEntry> entries = read_registry(root, source_name);
  std::vector<RegisteredModule> rows;
  rows.reserve(entries.size());
  // One path, rewritten for each module: many thousands of them cost no path object each.
  const std::string modules_dir = layout::modules_dir(root, source_name).native() + '/';
  std::string init_file;
  for (RegistryEntry& entry : entries) {
    // The key names the module's directory; the import path is only shown. An absolute name
    // stands for itself, as joining paths would have it.
    init_file.assign(entry.name.starts_with('/') ? std::string_view() : modules_dir);
    init_file.append(entry.name).append("/__init__.py");
    const error::Result<std::string> content = files::read_text(init_file.c_str());
    std::string description(content ? text::docstring_first_line(*content) : std::string_view());
    rows.push_back({std::move(entry.name), std::move(entry.import_path), std::move(description)});
  }
  return rows;
}

error::Result<Registration> plan_registration(const std::filesystem::path& root,
                                              std::string_view feature,
                                              std::optional<std::string_view> source) {
  const std::string source_name = layout::source_or_detected(root, source);
  Registration plan{layout::registry_path(root, source_name), std::string(), false};
  std::optional<std::string> current;  // the registry as it stands, when there is one
  if (files::exists(plan.path)) {
    // A registry that cannot be read is the user's to fix; rewriting it would lose it.
    error::Result<std::string> text = files::read_text(plan.path);
    if (!text) {
      plan.content = error::pass(text);
      return plan;
    }
    current = std::move(*text);
  }
  std::vector<RegistryEntry> entries;
  if (current) {
    RegistryText read = scan_registry(*current);
    if (read.stray_line != 0) return error::fail(stray_entry(plan.path, read.stray_line));
    entries = std::move(read.entries);
  }
  std::string key = naming::to_snake(feature);
  std::string import_path = fmt::format("{}.modules.{}", source_name, key);
  upsert(entries, {std::move(key), std::move(import_path)});
  plan.content = registry_content(entries);
  plan.unchanged = current && text::strip_trailing_newlines(*current) ==
                                  text::strip_trailing_newlines(*plan.content);
  return plan;
}

error::Result<writers::GeneratedFile> write_registration(files::ProjectRoot& project,
                                                         Registration plan, bool dry_run) {
  if (!plan.content) return error::pass(plan.content);
  if (plan.unchanged) {
    return writers::GeneratedFile{std::move(plan.path), std::move(*plan.content),
                                  writers::WriteStatus::Skipped};
  }
  return writers::write_file(project, plan.path, *plan.content, /*force=*/true, dry_run);
}

error::Result<writers::GeneratedFile> register_module(files::ProjectRoot& project,
                                                      std::string_view feature,
                                                      std::optional<std::string_view> source,
                                                      bool dry_run) {
  error::Result<Registration> plan = plan_registration(project.path(), feature, source);
  if (!plan) return error::pass(plan);
  return write_registration(project, std::move(*plan), dry_run);
}

}  // namespace generators::registry
