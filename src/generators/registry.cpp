#include "generators/registry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

bool is_quote(char c) { return c == '"' || c == '\''; }

using Entry = std::pair<std::string_view, std::string_view>;

// One line of the registry read from a position on. Outside quotes a "#" ends what is read of
// the line and, where `brace_closes`, a "}" closes the dictionary.
class LineReader {
 public:
  LineReader(std::string_view line, std::size_t pos, bool brace_closes)
      : line_(line), pos_(pos), brace_closes_(brace_closes) {}

  // The entry whose key's quote is the next quote: a quoted key, a ":" and a quoted value,
  // what stands between them skipped. None when the reading stops before it is whole.
  std::optional<Entry> entry() {
    const std::optional<std::string_view> key = text_in_quotes();
    if (!key) return std::nullopt;
    pos_ = find_or_stop([](char c) { return c == ':'; });
    if (!at(':')) return std::nullopt;
    ++pos_;
    const std::optional<std::string_view> value = text_in_quotes();
    if (!value) return std::nullopt;
    return Entry{*key, *value};
  }

  // Whether another entry follows the one read, after a ",": nothing else is read after a
  // value.
  bool next_entry_follows() {
    skip_blanks();
    if (!at(',')) return false;
    ++pos_;
    skip_blanks();
    return pos_ < line_.size() && is_quote(line_[pos_]);
  }

  // Whether a "}" closes the dictionary where the reading stopped or anywhere after it,
  // outside quotes and before any "#".
  bool closes() {
    if (!brace_closes_) return false;
    while (text_in_quotes()) {
    }
    return at('}');
  }

 private:
  bool at(char c) const { return pos_ < line_.size() && line_[pos_] == c; }

  // The first byte from the reading position on that `wanted` accepts or that stops the
  // reading; the line's size when there is none. A plain loop: a search for any of several
  // bytes costs a search of the set per byte.
  template <typename Wanted>
  std::size_t find_or_stop(Wanted wanted) const {
    std::size_t pos = pos_;
    while (pos < line_.size() && !wanted(line_[pos]) && line_[pos] != '#' &&
           !(brace_closes_ && line_[pos] == '}')) {
      ++pos;
    }
    return pos;
  }

  // The text between the next quote (either kind) and the next one of the same kind; the
  // reading moves past it, or to where it stopped (a quote that never closes runs to the end
  // of the line).
  std::optional<std::string_view> text_in_quotes() {
    const std::size_t open = find_or_stop(is_quote);
    pos_ = open;
    if (open == line_.size() || !is_quote(line_[open])) return std::nullopt;
    const std::size_t close = line_.find(line_[open], open + 1);
    if (close == std::string_view::npos) {
      pos_ = line_.size();
      return std::nullopt;
    }
    pos_ = close + 1;
    return line_.substr(open + 1, close - open - 1);
  }

  void skip_blanks() {
    while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t')) ++pos_;
  }

  std::string_view line_;
  std::size_t pos_;
  bool brace_closes_;
};

// Whether the registry can write the text back as it stands, between double quotes and
// without escapes: a double quote would end the string, a backslash would start an escape,
// and a control character has no place in a module's name or import path (a line break
// would cut the entry's line in two).
bool writable_raw(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7f || byte == '"' || byte == '\\') return false;
      ++i;
    } else if (text::decode_utf8(text, i) <= 0x9f) {
      return false;  // a C1 control, U+0080 to U+009F
    }
  }
  return true;
}

// Whether the text holds a byte below 0x20 that is not a line feed. Eight bytes at a time,
// without a branch, so that the compiler may take more at once: in each word the line feeds
// are raised to 0x2A, out of the way of the test for bytes below 0x20.
bool has_control_besides_line_feed(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHighBits = kOnes * 0x80,
                          kLowBits = kOnes * 0x7f;
  std::uint64_t below_space = 0;
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= text.size(); i += sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    // The high bit of each byte that is a line feed, exactly: no carry crosses into the next.
    const std::uint64_t xored = word ^ (kOnes * '\n');
    const std::uint64_t line_feeds = ~(((xored & kLowBits) + kLowBits) | xored) & kHighBits;
    word |= line_feeds >> 2;
    below_space |= (word - kOnes * 0x20) & ~word & kHighBits;
  }
  return below_space != 0 || std::ranges::any_of(text.substr(i), [](char c) {
           return static_cast<unsigned char>(c) < 0x20 && c != '\n';
         });
}

// Whether no entry of the text can hold what writable_raw refuses, so that no entry needs a
// look of its own: the text has no backslash, no DEL, no 0xC2 (the lead byte of the C1
// controls), no control character but the line feeds, and no single quote (only a name or a
// path in single quotes can hold a double quote). Every registry this program writes is such a
// text, and each of these searches costs far less than a look at every entry.
bool writable_throughout(std::string_view text) {
  for (const char byte : {'\\', '\x7f', '\xc2', '\''}) {
    if (text.find(byte) != std::string_view::npos) return false;
  }
  return !has_control_besides_line_feed(text);
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

  void reserve(std::size_t count) {
    entries_.reserve(count);
    names_.reserve(count);
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

// Reads a registry text one trimmed line at a time: where the dictionary stands, its entries,
// and the first lines whose entries a rewrite could not keep.
class RegistryReader {
 public:
  explicit RegistryReader(std::string_view text) : check_each_entry_(!writable_throughout(text)) {}

  void read(std::string_view line) {
    ++number_;
    if (state_ == State::Inside) {
      read_inside(line);
    } else if (const auto start = state_ == State::Before ? dictionary_start(line) : std::nullopt) {
      state_ = State::Inside;
      // A dictionary written on one line closes on it; "{}" alone is an empty one that the
      // entries of the next lines fill all the same.
      if (read_entries(line, *start, /*brace_closes=*/true) && entries_.size() > 0) {
        state_ = State::After;
      }
    } else if (stray_line_ == 0 && holds_entry(line)) {
      stray_line_ = number_;
    }
  }

  void reserve(std::size_t entries) { entries_.reserve(entries); }
  RegistryText take() && { return {std::move(entries_).take(), stray_line_, unwritable_line_}; }

 private:
  enum class State { Before, Inside, After };

  void read_inside(std::string_view line) {
    if (line.empty()) return;
    if (line.front() == '#') {
      // A commented-out entry still counts, as the registry has always read it; a "}" on such
      // a line closes nothing, since the dictionary's own "}" comes later.
      read_entries(line, std::min(line.find_first_not_of('#'), line.size()),
                   /*brace_closes=*/false);
    } else if (read_entries(line, 0, /*brace_closes=*/true)) {
      state_ = State::After;
    }
  }

  // Outside the dictionary an entry is one that a rewrite would lose; a comment, even one that
  // spells an entry, is only a comment.
  static bool holds_entry(std::string_view line) {
    return !line.starts_with('#') && LineReader(line, 0, /*brace_closes=*/false).entry();
  }

  // Reads the entries from `pos` on: the first wherever its key's quote stands, then each one
  // that follows a ",". True when a "}" closes the dictionary on the line.
  bool read_entries(std::string_view line, std::size_t pos, bool brace_closes) {
    LineReader reader(line, pos, brace_closes);
    while (const std::optional<Entry> entry = reader.entry()) {
      store(*entry);
      if (!reader.next_entry_follows()) break;
    }
    return reader.closes();
  }

  void store(Entry entry) {
    if (check_each_entry_ && unwritable_line_ == 0 &&
        !(writable_raw(entry.first) && writable_raw(entry.second))) {
      unwritable_line_ = number_;
    }
    entries_.store(entry);
  }

  bool check_each_entry_;
  EntryList entries_;
  State state_ = State::Before;
  std::size_t number_ = 0;  // of the line being read, counted from 1
  std::size_t stray_line_ = 0;
  std::size_t unwritable_line_ = 0;
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

// Why an entry on a line stops the registry's rewrite, and what the user can do about it.
constexpr std::string_view kOutsideDictionary =
    "outside the `modules` dictionary, which rewriting the registry would lose: the registry is "
    "rewritten whole, so keep module entries inside the dictionary and anything else in another "
    "file";
constexpr std::string_view kCannotWriteBack =
    "whose name or import path has a double quote, a backslash or a control character, which the "
    "registry cannot write back: correct or remove the entry";

error::Error refused_entry(const std::filesystem::path& path, std::size_t line,
                           std::string_view why) {
  return error::Error(fmt::format("{} holds an entry on line {} {}, then run the command again",
                                  files::quoted(path), line, why));
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
  // Written without escapes, since the reader knows none either: a registry with an entry that
  // would need one is refused before it is rewritten.
  for (const RegistryEntry* entry : sorted) {
    content.append(kEntryStart).append(entry->name).append(kEntryMiddle);
    content.append(entry->import_path).append(kEntryEnd);
  }
  if (sorted.empty()) content += '\n';
  content.append("}\n\n__all__ = [\"").append(kRegistryVar).append("\"]\n");
  return content;
}

RegistryText parse_registry(std::string_view content) {
  const std::vector<std::string_view> lines = text::split_lines(content);
  RegistryReader reader(content);
  // Room for an entry on each line long enough to hold one ('':'' and its line end), so that
  // the entries of a large registry are not moved again and again as the list grows.
  constexpr std::size_t kShortestEntryLine = 6;
  reader.reserve(std::min(lines.size(), content.size() / kShortestEntryLine));
  for (std::string_view line : lines) reader.read(text::trim(line));
  return std::move(reader).take();
}

std::vector<RegistryEntry> read_registry(const std::filesystem::path& root,
                                         std::string_view source) {
  const error::Result<std::string> content = files::read_text(layout::registry_path(root, source));
  if (!content) return {};
  return parse_registry(*content).entries;
}

std::string module_description(const char* init_file) {
  const error::Result<std::string> content = files::read_text(init_file);
  return std::string(content ? text::docstring_first_line(*content) : std::string_view());
}

std::vector<RegisteredModule> list_registered(const std::filesystem::path& root,
                                              std::string_view source) {
  std::vector<RegistryEntry> entries = read_registry(root, source);
  std::vector<RegisteredModule> rows;
  rows.reserve(entries.size());
  // One path, rewritten for each module: many thousands of them cost no path object each.
  const std::string modules_dir = layout::modules_dir(root, source).native() + '/';
  std::string init_file;
  for (RegistryEntry& entry : entries) {
    // The key names the module's directory; the import path is only shown. An absolute name
    // stands for itself, as joining paths would have it.
    init_file.assign(entry.name.starts_with('/') ? std::string_view() : modules_dir);
    init_file.append(entry.name).append("/__init__.py");
    std::string description = module_description(init_file.c_str());
    rows.push_back({std::move(entry.name), std::move(entry.import_path), std::move(description)});
  }
  return rows;
}

error::Result<Registration> plan_registration(const std::filesystem::path& root,
                                              std::string_view feature, std::string_view source) {
  Registration plan{layout::registry_path(root, source), std::string(), false};
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
    RegistryText read = parse_registry(*current);
    if (read.stray_line != 0) {
      return error::fail(refused_entry(plan.path, read.stray_line, kOutsideDictionary));
    }
    if (read.unwritable_line != 0) {
      return error::fail(refused_entry(plan.path, read.unwritable_line, kCannotWriteBack));
    }
    entries = std::move(read.entries);
  }
  std::string key = naming::to_snake(feature);
  std::string import_path = fmt::format("{}.modules.{}", source, key);
  upsert(entries, {std::move(key), std::move(import_path)});
  plan.content = registry_content(entries);
  plan.unchanged = current && text::strip_trailing_newlines(*current) ==
                                  text::strip_trailing_newlines(*plan.content);
  return plan;
}

error::Result<writers::GeneratedFile> register_module(files::ProjectRoot& project,
                                                      Registration plan, bool dry_run) {
  if (!plan.content) return error::pass(plan.content);
  if (plan.unchanged) {
    return writers::GeneratedFile{std::move(plan.path), std::move(*plan.content),
                                  writers::WriteStatus::Skipped};
  }
  return writers::write_file(project, plan.path, *plan.content, /*force=*/true, dry_run);
}

}  // namespace generators::registry
