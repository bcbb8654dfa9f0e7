#include "cli/parse.h"

#include <algorithm>
#include <map>
#include <optional>
#include <ranges>
#include <string_view>
#include <utility>

#include "cli/definitions.h"
#include "style/style.h"
#include "text/text.h"

namespace cli {

namespace {

using style::Stream;

// --- Styles of the parser's texts ---

namespace code = style::code;

// The parser's texts end each style with a full reset, whatever the style.
std::string sgr(std::string_view codes, std::string_view text) {
  return std::string(codes) + std::string(text) + std::string(code::kReset);
}
std::string header(std::string_view text) {
  return sgr(std::string(code::kBold) + std::string(code::kUnderline), text);
}
std::string literal(std::string_view text) { return sgr(code::kBold, text); }
std::string green(std::string_view text) { return sgr(code::kGreen, text); }
// Names quoted in messages: what would be valid, and what was given.
std::string valid(std::string_view text) { return "'" + green(text) + "'"; }
std::string invalid(std::string_view text) { return "'" + sgr(code::kYellow, text) + "'"; }

// --- The command table ---

bool is_named(const Arg& arg) { return !arg.long_name.empty(); }
// The command's own options and flags; help and version are the parser's.
bool is_own_option(const Arg& arg) {
  return arg.kind == ArgKind::Option || arg.kind == ArgKind::Flag;
}

// The first of `items` whose `field` is `value`, or null.
template <typename Item, typename Field, typename Value>
const Item* find_by(const std::vector<Item>& items, Field Item::* field, const Value& value) {
  const auto found = std::ranges::find(items, value, field);
  return found == items.end() ? nullptr : &*found;
}
const Arg* positional(const Command& command) {
  return find_by(command.args, &Arg::kind, ArgKind::Positional);
}

// The names like `word`, the likest last.
std::vector<std::string_view> similar(std::string_view word, const auto& names) {
  const auto score = [&](std::string_view name) { return text::jaro_similarity(word, name); };
  std::vector<std::string_view> found;
  for (const std::string_view name : names) {
    if (!name.empty() && score(name) > 0.7) found.push_back(name);
  }
  std::ranges::stable_sort(found, {}, score);
  return found;
}

// The long name of `command` likest `name`, if one is like it.
std::optional<std::string_view> similar_long_name(const Command& command, std::string_view name) {
  const auto names = similar(name, command.args | std::views::transform(&Arg::long_name));
  if (names.empty()) return std::nullopt;
  return names.back();
}

// --- Usage and help ---

// "--dir <DIR>", "--force", "<NAME>", "[COMMAND]...": how usage and messages show an argument;
// `style` marks the option's name.
std::string arg_display(const Arg& arg, std::string (*style)(std::string_view) = nullptr) {
  const std::string value = std::string(arg.value_name);
  if (arg.kind == ArgKind::Topics) return "[" + value + "]...";
  if (!is_named(arg)) return "<" + value + ">";
  const std::string name = "--" + std::string(arg.long_name);
  const std::string shown = style ? style(name) : name;
  return arg.kind == ArgKind::Option ? shown + " <" + value + ">" : shown;
}

// A command as the parse reached it: its definition and its name in usage lines.
struct Level {
  const Command* command;
  std::string bin;
};

// The usage that names the arguments an error involved, with the required positionals; without
// any, the full usage that help shows.
std::string usage(const Level& level, const std::vector<const Arg*>& used = {}) {
  const Command& command = *level.command;
  std::string usage = literal(level.bin);
  if (used.empty()) {
    if (std::ranges::any_of(command.args, is_own_option)) usage += " [OPTIONS]";
    for (const Arg& arg : command.args) {
      if (!is_named(arg)) usage += " " + arg_display(arg);
    }
    if (command.subcommands.empty()) return usage;
    return usage + (command.subcommand_required ? " <COMMAND>" : " [COMMAND]");
  }
  for (const Arg* arg : used) {
    if (is_named(*arg)) usage += " " + arg_display(*arg, literal);
  }
  if (const Arg* slot = positional(command)) usage += " " + arg_display(*slot);
  return usage + (command.subcommand_required ? " <COMMAND>" : "");
}

struct Row {
  std::string name;  // styled
  std::string help;
};

std::string section(std::string_view title, const std::vector<Row>& rows, bool long_help) {
  if (rows.empty()) return "";
  std::size_t width = 0;
  for (const Row& row : rows) width = std::max(width, style::strip_ansi(row.name).size());
  std::string text = "\n" + header(title) + "\n";
  for (const Row& row : rows) {
    // Short help aligns the texts in a column; long help puts each below its name, and a blank
    // line between the rows.
    if (long_help && &row != rows.data()) text += "\n";
    const std::size_t padding = width - style::strip_ansi(row.name).size() + 2;
    text += "  " + row.name + (long_help ? "\n          " : std::string(padding, ' ')) + row.help;
    text += "\n";
  }
  return text;
}

std::string help_text(const Level& level, bool long_help) {
  const Command& command = *level.command;
  long_help = long_help && !command.long_about.empty();
  std::vector<Row> commands, arguments, options;
  for (const Command& sub : command.subcommands) {
    commands.push_back({literal(sub.name), std::string(sub.about)});
  }
  for (const Arg& arg : command.args) {
    std::string help(arg.help);
    if (arg.kind == ArgKind::Help && !command.long_about.empty()) {
      help += long_help ? " (see a summary with '-h')" : " (see more with '--help')";
    }
    if (arg.default_value) {
      help += long_help ? "\n          \n          " : " ";
      help += "[default: " + std::string(*arg.default_value) + "]";
    }
    if (!is_named(arg)) {
      arguments.push_back({arg_display(arg), help});
      continue;
    }
    const std::string short_name = "-" + std::string(arg.short_name);
    const std::string prefix = arg.short_name.empty() ? "    " : literal(short_name) + ", ";
    options.push_back({prefix + arg_display(arg, literal), help});
  }
  return std::string(long_help ? command.long_about : command.about) + "\n\n" + header("Usage:") +
         " " + usage(level) + "\n" + section("Commands:", commands, long_help) +
         section("Arguments:", arguments, long_help) + section("Options:", options, long_help);
}

// `help_tip` is off for a command that has no --help to point to.
ParserOutcome usage_error(std::string_view message, const std::vector<std::string>& tips,
                          const std::optional<std::string>& usage, bool help_tip = true) {
  const std::string error_style = std::string(code::kBold) + std::string(code::kRed);
  std::string text = sgr(error_style, "error:") + " " + std::string(message) + "\n";
  if (!tips.empty()) text += "\n";
  for (const std::string& tip : tips) text += "  " + green("tip:") + " " + tip + "\n";
  if (usage) text += "\n" + header("Usage:") + " " + *usage + "\n";
  if (help_tip) text += "\nFor more information, try '" + literal("--help") + "'.\n";
  return {std::move(text), Stream::Stderr, 2};
}

// The command a parse that ends on a command of kind `runs` runs, filled by `value` (an
// argument's value) and `flag` (whether it was given); none for a command that runs nothing.
template <typename Value, typename Flag>
std::optional<Commands> command_to_run(Runs runs, const Value& value, const Flag& flag) {
  switch (runs) {
    case Runs::New: {
      std::optional<std::string> title;
      if (flag("title")) title = value("title");
      return New{value("name"), value("dir"), std::move(title), value("description"),
                 flag("dry_run"), flag("force")};
    }
    case Runs::MakeModule:
      return Make{MakeModule{value("feature"), value("dir"), flag("dry_run"), flag("force")}};
    case Runs::InitAlembic:
      return Init{InitAlembic{value("dir"), flag("dry_run")}};
    case Runs::List:
      return List{value("dir")};
    case Runs::Nothing:
      return std::nullopt;
  }
  return std::nullopt;  // not reached: the switch names every kind
}

// --- The walk over the arguments ---

// What reading one argument ends in, when it ends the parse.
using Stop = std::optional<ParserOutcome>;

// The arguments are read left to right as the command tree reads them. A value is checked when
// the next argument takes effect, or at the end: so an unknown argument right after a bad value
// is reported as unknown.
class Parser {
 public:
  Parser(const std::vector<std::string>& args, std::string_view program)
      : args_(args), level_{&command_line(), std::string(program)} {}

  std::variant<Cli, ParserOutcome> run() {
    for (; index_ < args_.size(); ++index_) {
      if (Stop stop = step(args_[index_])) return *std::move(stop);
    }
    if (Stop stop = resolve()) return *std::move(stop);
    const Command& command = *level_.command;
    if (!command.subcommands.empty()) {
      return ParserOutcome{help_text(level_, false), Stream::Stderr, 2};
    }
    const Arg* slot = positional(command);
    if (!slot || values_.contains(slot->id)) return convert();
    std::vector<const Arg*> used = matched_;
    used.push_back(slot);
    return error(
        "the following required arguments were not provided:\n  " + green(arg_display(*slot)), {},
        used);
  }

 private:
  Stop step(const std::string& arg) {
    const Command& command = *level_.command;
    if (!trailing_) {
      if (const Command* sub = find_by(command.subcommands, &Command::name, arg)) {
        if (sub->name == "help") return help_topics();
        level_ = {sub, level_.bin + " " + std::string(sub->name)};
        return std::nullopt;
      }
      trailing_ = arg == "--";
      if (trailing_) return std::nullopt;
      if (arg.size() > 2 && arg.starts_with("--")) return long_option(arg.substr(2));
      if (arg.size() > 1 && arg.starts_with('-')) return short_options(arg);
      if (pending_ && !pending_->value) {
        pending_->value = arg;
        return std::nullopt;
      }
    }
    const Arg* slot = positional(command);
    if (!slot || positional_taken_) return unexpected_positional(arg);
    positional_taken_ = true;
    return wait(*slot, arg);
  }

  Stop long_option(std::string_view arg) {
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    std::optional<std::string> value;
    if (equals != std::string_view::npos) value = std::string(arg.substr(equals + 1));
    // A positional's long name is empty: "--=x" names no argument.
    const Arg* found =
        name.empty() ? nullptr : find_by(level_.command->args, &Arg::long_name, name);
    if (!found) return unknown_long(name);
    return take(*found, std::move(value), true);
  }

  Stop short_options(std::string_view arg) {
    for (std::size_t at = 1; at < arg.size();) {
      std::size_t next = at;
      (void)text::decode_utf8(arg, next);
      const std::string_view letter = arg.substr(at, next - at);
      const bool readable = text::is_valid_utf8(letter);
      const Arg* found =
          readable ? find_by(level_.command->args, &Arg::short_name, letter) : nullptr;
      if (!found) {
        const std::string flag = "-" + text::lossy_utf8(readable ? letter : arg.substr(at));
        return error("unexpected argument " + invalid(flag) + " found", trailing_tip(flag));
      }
      if (found->kind == ArgKind::Option && next < arg.size()) {
        std::string_view rest = arg.substr(next);
        if (rest.starts_with('=')) rest.remove_prefix(1);
        return take(*found, std::string(rest), false);
      }
      if (Stop stop = take(*found, std::nullopt, false)) return stop;
      at = next;
    }
    return std::nullopt;
  }

  Stop take(const Arg& arg, std::optional<std::string> value, bool long_form) {
    if (arg.kind != ArgKind::Option && value) return unneeded_value(arg, *value);
    if (arg.kind == ArgKind::Option && !value) return wait(arg, std::nullopt);
    return react(arg, std::move(value), long_form);
  }

  // An option given without its value waits for the next argument; a positional's value waits
  // there to be checked.
  Stop wait(const Arg& arg, std::optional<std::string> value) {
    if (Stop stop = resolve()) return stop;
    pending_ = Pending{&arg, std::move(value)};
    return std::nullopt;
  }

  // The waiting argument takes effect.
  Stop resolve() {
    if (!pending_) return std::nullopt;
    Pending pending = *std::exchange(pending_, std::nullopt);
    if (!pending.value) return value_missing(*pending.arg);
    return react(*pending.arg, std::move(pending.value), true);
  }

  Stop react(const Arg& arg, std::optional<std::string> value, bool long_form) {
    if (Stop stop = resolve()) return stop;
    if (arg.kind == ArgKind::Help) {
      return ParserOutcome{help_text(level_, long_form), Stream::Stdout, 0};
    }
    if (arg.kind == ArgKind::Version) {
      return ParserOutcome{std::string(level_.command->name) + " " + std::string(version()) + "\n",
                           Stream::Stdout, 0};
    }
    if (std::ranges::find(matched_, &arg) != matched_.end()) {
      return error("the argument " + invalid(arg_display(arg)) + " cannot be used multiple times");
    }
    matched_.push_back(&arg);
    const std::string& given = values_[arg.id] = value.value_or("");
    if (arg.is_path && given.empty()) return value_missing(arg);
    if (!arg.is_path && !text::is_valid_utf8(given)) {
      return error("invalid UTF-8 was detected in one or more arguments");
    }
    return std::nullopt;
  }

  // --- The errors: "error:" and what went wrong, the tips that would fix it, then the usage
  // line of the command the parse reached, naming the arguments the mistake involves so that
  // the user sees it in place, and the pointer to --help. All on stderr, with status 2. ---

  ParserOutcome error(const std::string& message, const std::vector<std::string>& tips = {},
                      const std::vector<const Arg*>& used = {}) const {
    return usage_error(message, tips, usage(level_, used));
  }

  ParserOutcome value_missing(const Arg& arg) const {
    return usage_error(
        "a value is required for " + invalid(arg_display(arg)) + " but none was supplied", {},
        std::nullopt);
  }

  ParserOutcome unknown_long(std::string_view raw_name) {
    (void)resolve();
    const std::string name = text::lossy_utf8(raw_name);
    const Command& command = *level_.command;
    std::vector<const Arg*> used = matched_;
    std::vector<std::string> tips = trailing_tip("--" + name);
    if (const auto similar_name = similar_long_name(command, name)) {
      const Arg* suggested = find_by(command.args, &Arg::long_name, *similar_name);
      if (std::ranges::find(used, suggested) == used.end()) used.push_back(suggested);
      tips = {"a similar argument exists: " + valid("--" + std::string(*similar_name))};
    } else if (const auto sub = subcommand_with_similar_long(name)) {
      tips = {valid(*sub) + " exists"};
    }
    return error("unexpected argument " + invalid("--" + name) + " found", tips, used);
  }

  // "new --force" for `brintle --forc new`: the first subcommand named after the mistyped
  // option that has a long name like it.
  std::optional<std::string> subcommand_with_similar_long(const std::string& name) const {
    for (const std::string& arg : args_ | std::views::drop(index_ + 1)) {
      const Command* sub = find_by(level_.command->subcommands, &Command::name, arg);
      const auto similar_name = sub ? similar_long_name(*sub, name) : std::nullopt;
      if (similar_name) return std::string(sub->name) + " --" + std::string(*similar_name);
    }
    return std::nullopt;
  }

  ParserOutcome unneeded_value(const Arg& flag, const std::string& value) const {
    std::string shown = usage(level_, {&flag});
    if (!matched_.empty()) {
      // Once one of its arguments took effect, the command's arguments are named as one group.
      shown = literal(level_.bin) + (flag.kind == ArgKind::Help ? " " + literal("--help") : "");
      std::string group;
      for (const Arg& arg : level_.command->args) {
        if (arg.kind == ArgKind::Positional) group += "|" + std::string(arg.value_name);
        if (is_own_option(arg)) group += "|" + arg_display(arg);
      }
      shown += " <" + group.substr(1) + ">";
    }
    return usage_error("unexpected value " + invalid(text::lossy_utf8(value)) + " for '" +
                           literal("--" + std::string(flag.long_name)) +
                           "' found; no more were expected",
                       {}, shown);
  }

  ParserOutcome unexpected_positional(const std::string& raw) const {
    const std::string arg = text::lossy_utf8(raw);
    const Command& command = *level_.command;
    const std::string unexpected = "unexpected argument " + invalid(arg) + " found";
    if (command.subcommands.empty()) return error(unexpected);
    if (trailing_ && find_by(command.subcommands, &Command::name, raw)) {
      return error(unexpected, {"subcommand " + valid(arg) + " exists; to use it, remove the " +
                                invalid("--") + " before it"});
    }
    std::vector<std::string> tips;
    const auto names = similar(arg, command.subcommands | std::views::transform(&Command::name));
    if (!names.empty()) {
      std::string list;
      for (const std::string_view name : names) list += (list.empty() ? "" : ", ") + valid(name);
      tips.push_back(names.size() == 1 ? "a similar subcommand exists: " + list
                                       : "some similar subcommands exist: " + list);
    }
    return error("unrecognized subcommand " + invalid(arg), tips);
  }

  // Offered where the command takes a positional that the flag could have been meant for.
  std::vector<std::string> trailing_tip(const std::string& flag) const {
    if (!positional(*level_.command)) return {};
    return {"to pass " + invalid(flag) + " as a value, use " + valid("-- " + flag)};
  }

  // `brintle help make module`: every argument after `help` names a subcommand of the one
  // before; the last one's long help is printed.
  ParserOutcome help_topics() const {
    Level target = level_;
    for (const std::string& topic : args_ | std::views::drop(index_ + 1)) {
      const Command* sub = find_by(target.command->subcommands, &Command::name, topic);
      if (!sub) {
        // The help subcommand has no --help of its own to point to.
        return usage_error("unrecognized subcommand " + invalid(text::lossy_utf8(topic)), {},
                           usage(target), target.command->name != "help");
      }
      target = {sub, target.bin + " " + std::string(sub->name)};
    }
    return {help_text(target, true), Stream::Stdout, 0};
  }

  // The command to run, filled from the values read. A field the table gives no value, or a
  // command that runs nothing, is a fault of the command table: it is reported, never taken for
  // another command.
  std::variant<Cli, ParserOutcome> convert() {
    const Command& command = *level_.command;
    for (const Arg& arg : command.args) {
      if (arg.default_value) values_.try_emplace(arg.id, *arg.default_value);
    }
    std::optional<std::string_view> missing;
    const auto value = [&](std::string_view id) {
      const auto found = values_.find(id);
      if (found != values_.end()) return found->second;
      missing = id;
      return std::string();
    };
    const auto flag = [&](std::string_view id) { return values_.contains(id); };
    std::optional<Commands> run = command_to_run(command.runs, value, flag);
    if (run && !missing) return Cli{std::move(run)};
    const std::string fault = missing ? "no value for " + std::string(*missing) : "nothing to run";
    return usage_error("the command table gives '" + std::string(command.name) + "' " + fault, {},
                       std::nullopt, false);
  }

  // An option waiting for its value, or a value not yet checked.
  struct Pending {
    const Arg* arg;
    std::optional<std::string> value;
  };

  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
  Level level_;
  bool trailing_ = false;
  bool positional_taken_ = false;
  std::optional<Pending> pending_;
  std::vector<const Arg*> matched_;
  std::map<std::string_view, std::string, std::less<>> values_;
};

}  // namespace

std::string program_name(std::string_view argv0) {
  // The last component that names something: "." components name nothing here.
  std::string_view last;
  for (const std::string_view component : text::path_components(argv0)) {
    if (component != ".") last = component;
  }
  if (last.empty() || last == ".." || !text::is_valid_utf8(last)) return "brintle";
  return std::string(last);
}

std::variant<Cli, ParserOutcome> parse_command_line(const std::vector<std::string>& args,
                                                    std::string_view program) {
  return Parser(args, program).run();
}

}  // namespace cli
