#include "cli/parse.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "cli/definitions.h"
#include "files/files.h"
#include "text/text.h"

namespace cli {

namespace {

using style::Stream;

// --- Styles of the parser's texts ---

std::string sgr(std::string_view codes, std::string_view text) {
  return std::string(codes) + std::string(text) + "\x1b[0m";
}
std::string header(std::string_view text) { return sgr("\x1b[1m\x1b[4m", text); }
std::string literal(std::string_view text) { return sgr("\x1b[1m", text); }
std::string valid(std::string_view text) { return sgr("\x1b[32m", text); }
std::string invalid(std::string_view text) { return sgr("\x1b[33m", text); }
std::string quoted(std::string text) { return "'" + std::move(text) + "'"; }

bool is_named(const Arg& arg) {
  return arg.kind != ArgKind::Positional && arg.kind != ArgKind::Topics;
}
bool takes_value(const Arg& arg) { return arg.kind == ArgKind::Option; }
bool is_builtin(const Arg& arg) {
  return arg.kind == ArgKind::Help || arg.kind == ArgKind::Version;
}

// "--dir <DIR>", "--force", "<NAME>": how messages name an argument; `style` marks the name.
std::string arg_display(const Arg& arg, std::string (*style)(std::string_view) = nullptr) {
  if (!is_named(arg)) return "<" + std::string(arg.value_name) + ">";
  const std::string name = "--" + std::string(arg.long_name);
  const std::string shown = style ? style(name) : name;
  return takes_value(arg) ? shown + " <" + std::string(arg.value_name) + ">" : shown;
}

// --- Help ---

// A command as the parse reached it: its definition and its name in usage lines.
struct Level {
  const Command* command;
  std::string bin;
};

std::string help_usage(const Level& level) {
  const Command& command = *level.command;
  std::string usage = literal(level.bin);
  if (std::ranges::any_of(command.args, [](const Arg& a) { return is_named(a) && !is_builtin(a); }))
    usage += " [OPTIONS]";
  for (const Arg& arg : command.args) {
    if (arg.kind == ArgKind::Positional) usage += " <" + std::string(arg.value_name) + ">";
    if (arg.kind == ArgKind::Topics) usage += " [" + std::string(arg.value_name) + "]...";
  }
  if (!command.subcommands.empty()) {
    usage += command.subcommand_required ? " <COMMAND>" : " [COMMAND]";
  }
  return usage;
}

struct Row {
  std::string name;  // styled
  std::size_t width;
  std::string help;
  std::optional<std::string_view> default_value;
};

std::string help_row_text(const Arg& arg, const Command& command, bool long_help) {
  if (arg.kind != ArgKind::Help) return std::string(arg.help);
  if (command.long_about.empty()) return "Print help";
  return long_help ? "Print help (see a summary with '-h')" : "Print help (see more with '--help')";
}

std::string section(std::string_view title, const std::vector<Row>& rows, bool long_help) {
  std::size_t width = 0;
  for (const Row& row : rows) width = std::max(width, row.width);
  std::string text = "\n" + header(title) + "\n";
  for (const Row& row : rows) {
    if (long_help) {
      text += (&row == rows.data() ? "  " : "\n  ") + row.name + "\n          " + row.help + "\n";
      if (row.default_value) {
        text += "          \n          [default: " + std::string(*row.default_value) + "]\n";
      }
    } else {
      text += "  " + row.name + std::string(width - row.width + 2, ' ') + row.help;
      if (row.default_value) text += " [default: " + std::string(*row.default_value) + "]";
      text += "\n";
    }
  }
  return text;
}

std::string help_text(const Level& level, bool long_help) {
  const Command& command = *level.command;
  long_help = long_help && !command.long_about.empty();
  std::string text = std::string(long_help ? command.long_about : command.about) + "\n\n" +
                     header("Usage:") + " " + help_usage(level) + "\n";
  std::vector<Row> commands, arguments, options;
  for (const Command& sub : command.subcommands)
    commands.push_back({literal(sub.name), sub.name.size(), std::string(sub.about), {}});
  for (const Arg& arg : command.args) {
    const std::string help = help_row_text(arg, command, long_help);
    if (arg.kind == ArgKind::Topics) {
      const std::string name = "[" + std::string(arg.value_name) + "]...";
      arguments.push_back({name, name.size(), help, {}});
    } else if (arg.kind == ArgKind::Positional) {
      arguments.push_back({arg_display(arg), arg_display(arg).size(), help, {}});
    } else {
      std::string name = arg.short_name ? literal(std::string{'-', arg.short_name}) + ", " : "    ";
      name += arg_display(arg, literal);
      options.push_back({std::move(name), 4 + arg_display(arg).size(), help, arg.default_value});
    }
  }
  if (!commands.empty()) text += section("Commands:", commands, long_help);
  if (!arguments.empty()) text += section("Arguments:", arguments, long_help);
  if (!options.empty()) text += section("Options:", options, long_help);
  return text;
}

// --- Usage errors ---

ParserOutcome usage_error(std::string_view message, const std::vector<std::string>& tips,
                          const std::optional<std::string>& usage, bool help_tip = true) {
  std::string text = sgr("\x1b[1m\x1b[31m", "error:") + " " + std::string(message) + "\n";
  if (!tips.empty()) text += "\n";
  for (const std::string& tip : tips) text += "  " + valid("tip:") + " " + tip + "\n";
  if (usage) text += "\n" + header("Usage:") + " " + *usage + "\n";
  if (help_tip) text += "\nFor more information, try '" + literal("--help") + "'.\n";
  return {std::move(text), Stream::Stderr, 2};
}

// The usage that names the arguments an error involved, with the required positionals.
std::string smart_usage(const Level& level, const std::vector<const Arg*>& used) {
  std::string usage = literal(level.bin);
  std::vector<const Arg*> shown;
  for (const Arg* arg : used) {
    if (is_named(*arg) && std::ranges::find(shown, arg) == shown.end()) shown.push_back(arg);
  }
  for (const Arg* arg : shown) usage += " " + arg_display(*arg, literal);
  for (const Arg& arg : level.command->args) {
    if (arg.kind == ArgKind::Positional) usage += " " + arg_display(arg);
  }
  if (level.command->subcommand_required) usage += " <COMMAND>";
  return usage;
}

std::vector<std::string> similar(std::string_view word,
                                 const std::vector<std::string_view>& names) {
  std::vector<std::pair<double, std::string_view>> scored;
  for (std::string_view name : names) {
    const double score = text::jaro_similarity(word, name);
    if (score > 0.7) scored.push_back({score, name});
  }
  std::ranges::stable_sort(scored, {}, &std::pair<double, std::string_view>::first);
  std::vector<std::string> found;
  for (const auto& [score, name] : scored) found.emplace_back(name);
  return found;
}

std::vector<std::string_view> long_names(const Command& command) {
  std::vector<std::string_view> names;
  for (const Arg& arg : command.args) {
    if (!arg.long_name.empty()) names.push_back(arg.long_name);
  }
  return names;
}

// --- The walk over the arguments ---

// The arguments are read left to right as the command tree reads them. A value is checked when
// the next argument is read, or at the end: so an unknown argument right after a bad value is
// reported as unknown.
class Parser {
 public:
  Parser(const std::vector<std::string>& args, std::string_view program)
      : args_(args), level_{&command_line(), std::string(program)} {}

  std::variant<Cli, ParserOutcome> run() {
    for (; index_ < args_.size(); ++index_) {
      if (auto outcome = step(args_[index_])) return *std::move(outcome);
    }
    if (auto outcome = resolve()) return *std::move(outcome);
    const Command& command = *level_.command;
    if (!command.subcommands.empty()) {
      return ParserOutcome{help_text(level_, false), Stream::Stderr, 2};
    }
    for (const Arg& arg : command.args) {
      if (arg.kind == ArgKind::Positional && !value_of(arg.id)) return missing(arg);
    }
    return convert();
  }

 private:
  using Matched = std::pair<const Arg*, std::string>;
  struct Pending {
    const Arg* arg;
    std::optional<std::string> value;
  };

  std::optional<ParserOutcome> step(const std::string& arg) {
    const Command& command = *level_.command;
    if (!trailing_) {
      for (const Command& sub : command.subcommands) {
        if (sub.name != arg) continue;
        if (sub.name == "help") return help_topics();
        level_ = {&sub, level_.bin + " " + std::string(sub.name)};
        positionals_ = 0;
        return std::nullopt;
      }
      if (arg == "--") {
        trailing_ = true;
        return std::nullopt;
      }
      if (arg.size() > 2 && arg.starts_with("--")) return long_option(arg.substr(2));
      if (arg.size() > 1 && arg.starts_with('-')) return short_options(arg);
      if (pending_ && !pending_->value && takes_value(*pending_->arg)) {
        pending_->value = arg;
        return std::nullopt;
      }
    }
    const auto slot = std::ranges::find(command.args, ArgKind::Positional, &Arg::kind);
    if (slot == command.args.end() || positionals_ > 0) {
      (void)resolve();
      return unexpected_positional(arg);
    }
    if (auto outcome = resolve()) return outcome;
    pending_ = Pending{&*slot, arg};
    ++positionals_;
    return std::nullopt;
  }

  std::optional<ParserOutcome> long_option(std::string_view arg) {
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    std::optional<std::string> value;
    if (equals != std::string_view::npos) value = std::string(arg.substr(equals + 1));
    const Command& command = *level_.command;
    // "--=x" names no argument: the positionals' empty long name must not match it.
    const auto found = name.empty() ? command.args.end()
                                    : std::ranges::find(command.args, name, &Arg::long_name);
    if (found == command.args.end()) {
      (void)resolve();
      return unknown_long(text::lossy_utf8(name));
    }
    if (takes_value(*found)) {
      if (value) return react(*found, std::move(value), true);
      if (auto outcome = resolve()) return outcome;
      pending_ = Pending{&*found, std::nullopt};
      return std::nullopt;
    }
    if (value) return unneeded_value(*found, *value);
    return react(*found, std::nullopt, true);
  }

  std::optional<ParserOutcome> short_options(std::string_view arg) {
    const std::size_t valid_end = valid_utf8_prefix(arg);
    for (std::size_t at = 1; at < valid_end;) {
      std::size_t next = at;
      (void)text::decode_utf8(arg, next);
      const std::string_view flag = arg.substr(at, next - at);
      const Command& command = *level_.command;
      const auto found = std::ranges::find_if(command.args, [&](const Arg& a) {
        return a.short_name != 0 && flag == std::string_view(&a.short_name, 1);
      });
      if (found == command.args.end()) return unknown_short("-" + std::string(flag));
      if (!takes_value(*found)) {
        if (auto outcome = react(*found, std::nullopt, false)) return outcome;
        at = next;
        continue;
      }
      std::string_view rest = arg.substr(next);
      if (rest.empty()) {
        if (auto outcome = resolve()) return outcome;
        pending_ = Pending{&*found, std::nullopt};
        return std::nullopt;
      }
      if (rest.starts_with('=')) rest.remove_prefix(1);
      return react(*found, std::string(rest), false);
    }
    if (valid_end < arg.size()) return unknown_short("-" + text::lossy_utf8(arg.substr(valid_end)));
    return std::nullopt;
  }

  // The number of bytes that open `arg` as well-formed UTF-8.
  static std::size_t valid_utf8_prefix(std::string_view arg) {
    std::size_t end = 0;
    while (end < arg.size()) {
      std::size_t next = end;
      (void)text::decode_utf8(arg, next);
      if (!text::is_valid_utf8(arg.substr(end, next - end))) break;
      end = next;
    }
    return end;
  }

  // The pending argument (an option waiting for its value, or a positional) takes effect.
  std::optional<ParserOutcome> resolve() {
    if (!pending_) return std::nullopt;
    Pending pending = *std::exchange(pending_, std::nullopt);
    if (!pending.value) return value_missing(*pending.arg);
    return react(*pending.arg, std::move(pending.value), true);
  }

  std::optional<ParserOutcome> react(const Arg& arg, std::optional<std::string> value,
                                     bool long_form) {
    if (auto outcome = resolve()) return outcome;
    if (arg.kind == ArgKind::Help) {
      return ParserOutcome{help_text(level_, long_form), Stream::Stdout, 0};
    }
    if (arg.kind == ArgKind::Version) {
      return ParserOutcome{std::string(level_.command->name) + " " + std::string(version()) + "\n",
                           Stream::Stdout, 0};
    }
    if (std::ranges::find(matched_, &arg, &Matched::first) != matched_.end()) {
      return usage_error("the argument " + quoted(invalid(arg_display(arg))) +
                             " cannot be used multiple times",
                         {}, help_usage(level_));
    }
    matched_.emplace_back(&arg, value.value_or(""));
    if (!value) return std::nullopt;
    if (arg.is_path && value->empty()) return value_missing(arg);
    if (!arg.is_path && !text::is_valid_utf8(*value)) {
      return usage_error("invalid UTF-8 was detected in one or more arguments", {},
                         help_usage(level_));
    }
    return std::nullopt;
  }

  // --- The errors, each with the usage the reference parser gives it ---

  std::vector<const Arg*> matched_args() const {
    std::vector<const Arg*> used;
    for (const auto& [arg, value] : matched_) used.push_back(arg);
    return used;
  }

  ParserOutcome value_missing(const Arg& arg) const {
    return usage_error("a value is required for " + quoted(invalid(arg_display(arg))) +
                           " but none was supplied",
                       {}, std::nullopt);
  }

  ParserOutcome missing(const Arg& arg) const {
    std::vector<const Arg*> used = matched_args();
    used.push_back(&arg);
    return usage_error(
        "the following required arguments were not provided:\n  " + valid(arg_display(arg)), {},
        smart_usage(level_, used));
  }

  ParserOutcome unknown_short(const std::string& flag) {
    (void)resolve();
    std::vector<std::string> tips;
    if (has_positional()) tips.push_back(trailing_tip(flag));
    return usage_error("unexpected argument " + quoted(invalid(flag)) + " found", tips,
                       help_usage(level_));
  }

  ParserOutcome unknown_long(const std::string& name) {
    const std::string flag = "--" + name;
    std::vector<const Arg*> used = matched_args();
    std::vector<std::string> tips;
    const Command& command = *level_.command;
    if (auto names = similar(name, long_names(command)); !names.empty()) {
      const auto suggested = std::ranges::find(command.args, names.back(), &Arg::long_name);
      used.push_back(&*suggested);
      tips.push_back("a similar argument exists: " + quoted(valid("--" + names.back())));
    } else if (auto sub = subcommand_with_similar_long(name)) {
      tips.push_back(quoted(valid(*sub)) + " exists");
    } else if (has_positional()) {
      tips.push_back(trailing_tip(flag));
    }
    return usage_error("unexpected argument " + quoted(invalid(flag)) + " found", tips,
                       used.empty() ? help_usage(level_) : smart_usage(level_, used));
  }

  // "new --force" for `brintle --forc new`: the subcommand named first among the arguments
  // that follow whose own long names hold a similar one.
  std::optional<std::string> subcommand_with_similar_long(const std::string& name) const {
    std::optional<std::string> best;
    std::size_t best_at = args_.size();
    for (const Command& sub : level_.command->subcommands) {
      const auto names = similar(name, long_names(sub));
      const auto at = std::find(args_.begin() + index_ + 1, args_.end(), sub.name) - args_.begin();
      if (names.empty() || static_cast<std::size_t>(at) >= best_at) continue;
      best_at = at;
      best = std::string(sub.name) + " --" + names.back();
    }
    return best;
  }

  ParserOutcome unneeded_value(const Arg& flag, const std::string& value) {
    std::string usage;
    if (matched_.empty()) {
      usage = smart_usage(level_, {&flag});
    } else {
      // Once one of its arguments took effect, the command's arguments are named as one group.
      usage = literal(level_.bin) + (flag.kind == ArgKind::Help ? " " + literal("--help") : "");
      std::string group;
      for (const Arg& arg : level_.command->args) {
        if (is_builtin(arg)) continue;
        group += (group.empty() ? "" : "|") +
                 (is_named(arg) ? arg_display(arg) : std::string(arg.value_name));
      }
      usage += " <" + group + ">";
    }
    (void)resolve();
    return usage_error("unexpected value " + quoted(invalid(text::lossy_utf8(value))) + " for " +
                           quoted(literal("--" + std::string(flag.long_name))) +
                           " found; no more were expected",
                       {}, usage);
  }

  ParserOutcome unexpected_positional(const std::string& raw) const {
    const std::string arg = text::lossy_utf8(raw);
    const Command& command = *level_.command;
    if (command.subcommands.empty()) {
      return usage_error("unexpected argument " + quoted(invalid(arg)) + " found", {},
                         help_usage(level_));
    }
    std::vector<std::string_view> names;
    for (const Command& sub : command.subcommands) names.push_back(sub.name);
    if (trailing_ && std::ranges::find(names, raw) != names.end()) {
      return usage_error("unexpected argument " + quoted(invalid(arg)) + " found",
                         {"subcommand " + quoted(valid(arg)) + " exists; to use it, remove the " +
                          quoted(invalid("--")) + " before it"},
                         help_usage(level_));
    }
    std::vector<std::string> tips;
    if (auto found = similar(arg, names); !found.empty()) {
      std::string list;
      for (const std::string& name : found) {
        list += (list.empty() ? "" : ", ") + quoted(valid(name));
      }
      tips.push_back(found.size() == 1 ? "a similar subcommand exists: " + list
                                       : "some similar subcommands exist: " + list);
    }
    return usage_error("unrecognized subcommand " + quoted(invalid(arg)), tips, help_usage(level_));
  }

  std::string trailing_tip(const std::string& flag) const {
    return "to pass " + quoted(invalid(flag)) + " as a value, use " + quoted(valid("-- " + flag));
  }

  bool has_positional() const {
    const auto& args = level_.command->args;
    return std::ranges::find(args, ArgKind::Positional, &Arg::kind) != args.end();
  }

  // `brintle help make module`: every argument after `help` names a subcommand of the one
  // before; the last one's long help is printed.
  ParserOutcome help_topics() const {
    Level target = level_;
    for (std::size_t at = index_ + 1; at < args_.size(); ++at) {
      const auto& subs = target.command->subcommands;
      const auto sub = std::ranges::find(subs, args_[at], &Command::name);
      if (sub == subs.end()) {
        const std::string topic = text::lossy_utf8(args_[at]);
        // The help subcommand has no --help of its own to point to.
        return usage_error("unrecognized subcommand " + quoted(invalid(topic)), {},
                           help_usage(target), target.command->name != "help");
      }
      target = {&*sub, target.bin + " " + std::string(sub->name)};
    }
    return {help_text(target, true), Stream::Stdout, 0};
  }

  // --- Conversion ---

  std::optional<std::string> value_of(std::string_view id) const {
    for (const auto& [arg, value] : matched_) {
      if (arg->id == id) return value;
    }
    for (const Arg& arg : level_.command->args) {
      if (arg.id == id && arg.default_value) return std::string(*arg.default_value);
    }
    return std::nullopt;
  }
  std::string value(std::string_view id) const { return value_of(id).value_or(""); }
  bool flag(std::string_view id) const { return value_of(id).has_value(); }

  Cli convert() const {
    const std::string_view name = level_.command->name;
    if (name == "new") {
      return {New{value("name"), value("dir"), value_of("title"), value("description"),
                  flag("dry_run"), flag("force")}};
    }
    if (name == "module") {
      return {Make{Module{value("feature"), value("dir"), flag("dry_run"), flag("force")}}};
    }
    if (name == "alembic") return {Init{Alembic{value("dir"), flag("dry_run")}}};
    return {List{value("dir")}};
  }

  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
  Level level_;
  bool trailing_ = false;
  std::size_t positionals_ = 0;
  std::optional<Pending> pending_;
  std::vector<Matched> matched_;
};

}  // namespace

std::string program_name(std::string_view argv0) {
  std::string_view last;
  for (std::size_t start = 0; start <= argv0.size();) {
    std::size_t end = std::min(argv0.find('/', start), argv0.size());
    const std::string_view component = argv0.substr(start, end - start);
    // A "." inside a path names nothing; one at its start names the current directory.
    if (!component.empty() && (component != "." || start == 0)) last = component;
    start = end + 1;
  }
  if (last.empty() || last == "." || last == ".." || !text::is_valid_utf8(last)) return "brintle";
  return std::string(last);
}

std::variant<Cli, ParserOutcome> parse_command_line(const std::vector<std::string>& args,
                                                    std::string_view program) {
  return Parser(args, program).run();
}

void print_outcome(const ParserOutcome& outcome) {
  const std::string text = style::colour_enabled(outcome.stream)
                               ? outcome.text
                               : style::strip_ansi(outcome.text);
  (void)files::write_all(style::stream_fd(outcome.stream), text);
}

}  // namespace cli
