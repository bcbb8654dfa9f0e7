// CLI11 glue: help, usage errors, suggestions and value checks.
#include "cli/parse.h"

#include <algorithm>
#include <expected>
#include <numeric>
#include <optional>
#include <set>
#include <string_view>

#include "text/text.h"

namespace cli {

namespace {

using style::Stream;

// --- The command tree ---

// Every App of the definition is a Command.
const Command& as_command(const CLI::App& app) { return static_cast<const Command&>(app); }

// "brintle make module"
std::string command_path(const CLI::App& command) {
  std::string path = command.get_name();
  for (const CLI::App* up = command.get_parent(); up != nullptr; up = up->get_parent()) {
    path = up->get_name() + " " + path;
  }
  return path;
}

std::vector<const Command*> subcommands_of(const Command& command) {
  std::vector<const Command*> subcommands;
  for (const CLI::App* sub : command.get_subcommands({})) subcommands.push_back(&as_command(*sub));
  return subcommands;
}

const Command* find_subcommand(const Command& command, std::string_view name) {
  for (const Command* sub : subcommands_of(command)) {
    if (sub->get_name() == name) return sub;
  }
  return nullptr;
}

// The innermost command that the parse selected.
const Command& selected_command(const Command& top) {
  const CLI::App* command = &top;
  while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
  return as_command(*command);
}

// The help and version flags, which end the parse.
bool is_builtin(const Command& command, const CLI::Option* option) {
  return option == command.get_help_ptr() || option == command.get_help_all_ptr() ||
         option == command.get_version_ptr();
}

// The command's own positional arguments or options, in their order.
std::vector<const CLI::Option*> own_arguments(const Command& command, bool positional) {
  return command.get_options([&](const CLI::Option* option) {
    return option->get_positional() == positional && !is_builtin(command, option);
  });
}

bool takes_value(const CLI::Option& option) { return option.get_expected_max() > 0; }

bool looks_like_option(std::string_view arg) { return arg.size() > 1 && arg.front() == '-'; }

// --- Help and usage ---

// "-d, --dir <DIR>", "    --dry-run": the column of names in the options list.
std::string option_names(const CLI::Option& option) {
  std::string names = "    ";
  if (!option.get_snames().empty()) {
    names = "-" + option.get_snames().front() + (option.get_lnames().empty() ? "" : ", ");
  }
  if (!option.get_lnames().empty()) names += "--" + option.get_lnames().front();
  if (takes_value(option)) names += " <" + option.get_type_name() + ">";
  return names;
}

struct Row {
  std::string name;
  std::string help;
};

struct Section {
  std::string_view title;
  std::vector<Row> rows;
};

std::vector<Row> option_rows(const Command& command, HelpMode mode) {
  std::vector<Row> rows;
  for (const CLI::Option* option : own_arguments(command, false)) {
    std::string help = option->get_description();
    if (auto found = command.defaults.find(option); found != command.defaults.end()) {
      help += (help.empty() ? "[default: " : " [default: ") + found->second + "]";
    }
    rows.push_back({option_names(*option), std::move(help)});
  }
  if (command.get_help_ptr() != nullptr) {
    std::string help = "Print help";
    if (!command.long_about.empty()) {
      help += mode == HelpMode::Short ? " (see more with '--help')" : " (see a summary with '-h')";
    }
    // `-h` and `--help` are two flags to CLI11 (short and long help) and one line here.
    rows.push_back({"-h, --help", std::move(help)});
  }
  if (const CLI::Option* version = command.get_version_ptr(); version != nullptr) {
    rows.push_back({option_names(*version), version->get_description()});
  }
  return rows;
}

// --- Usage errors ---

ParserOutcome usage_error(const Command& command, std::string_view message,
                          std::string_view tip = {}) {
  std::string text = "error: " + std::string(message) + "\n\n";
  if (!tip.empty()) text += "  tip: " + std::string(tip) + "\n\n";
  text += "Usage: " + usage(command) + "\n\nFor more information, try '--help'.\n";
  return {std::move(text), Stream::Stderr, 2};
}

// Arguments are quoted back as the user typed them, with bytes that are not UTF-8 replaced.
std::string quote_arg(std::string_view arg) { return "'" + text::lossy_utf8(arg) + "'"; }

ParserOutcome unexpected_argument(const Command& command, std::string_view arg,
                                  std::string_view tip = {}) {
  return usage_error(command, "unexpected argument " + quote_arg(arg) + " found", tip);
}

std::size_t edit_distance(std::string_view from, std::string_view to) {
  std::vector<std::size_t> row(to.size() + 1);
  std::iota(row.begin(), row.end(), std::size_t{0});
  for (std::size_t i = 1; i <= from.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= to.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (from[i - 1] == to[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[to.size()];
}

// The candidate closest to `word` when it is at most two edits away; the first on a tie.
std::optional<std::string> similar(std::string_view word,
                                   const std::vector<std::string>& candidates) {
  std::optional<std::string> best;
  std::size_t best_distance = 3;
  for (const std::string& candidate : candidates) {
    if (const std::size_t distance = edit_distance(word, candidate); distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best;
}

std::string subcommand_tip(const Command& command, std::string_view arg) {
  std::vector<std::string> names;
  for (const Command* sub : subcommands_of(command)) names.push_back(sub->get_name());
  const auto name = similar(arg, names);
  return name ? "a similar subcommand exists: '" + *name + "'" : std::string();
}

std::string option_tip(const Command& command, std::string_view arg) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  }
  const auto name = similar(arg, names);
  return name ? "a similar argument exists: '" + *name + "'" : std::string();
}

ParserOutcome missing_arguments(const Command& command) {
  std::string message = "the following required arguments were not provided:";
  for (const CLI::Option* positional : own_arguments(command, true)) {
    if (positional->get_required() && positional->count() == 0) {
      message += "\n  " + arg_display(*positional);
    }
  }
  return usage_error(command, message);
}

// --- The walk over the arguments ---

// CLI11 lacks some rules of this command line, so the arguments are walked first, in order,
// as the command tree reads them. The walk reports the first of these errors: an unknown
// option, subcommand or surplus positional (with a suggestion), a value given to a flag, an
// option repeated or left without its value. It rewrites what CLI11 would read otherwise:
// "--title=" is an empty value, not a bare option; "-d=x" gives "x"; a cluster "-fd x" is
// split. It stops after a help or version flag, as what follows is never read. And it moves
// the positional values of the innermost command to the end, behind "--", so that CLI11
// cannot take "++" or a subcommand's name for anything else.
class Walk {
 public:
  Walk(const Command& top, const std::vector<std::string>& args) : current_(&top), args_(args) {}

  // The arguments for CLI11, in order, or the usage error met first.
  std::expected<std::vector<std::string>, ParserOutcome> run() {
    for (; index_ < args_.size(); ++index_) {
      const std::string& arg = args_[index_];
      Step step;
      if (only_positionals_ || !looks_like_option(arg)) {
        step = positional(arg);
      } else if (arg == "--") {
        only_positionals_ = true;
        step = Step::Next;
      } else if (arg.starts_with("--")) {
        step = long_option(arg);
      } else {
        step = short_options(arg);
      }
      if (step == Step::Fail) return std::unexpected(std::move(*error_));
      if (step == Step::Stop) break;
    }
    if (!positionals_.empty()) {
      tokens_.push_back("--");
      tokens_.insert(tokens_.end(), positionals_.begin(), positionals_.end());
    }
    return std::move(tokens_);
  }

 private:
  enum class Step { Next, Stop, Fail };

  Step fail(ParserOutcome error) {
    error_ = std::move(error);
    return Step::Fail;
  }

  bool has_free_slot() const {
    const std::vector<const CLI::Option*> slots = own_arguments(*current_, true);
    return filled_ < slots.size() || (!slots.empty() && slots.back()->get_allow_extra_args());
  }

  Step positional(const std::string& arg) {
    if (!only_positionals_) {
      if (const Command* sub = find_subcommand(*current_, arg)) {
        tokens_.push_back(arg);
        current_ = sub;
        filled_ = 0;
        return Step::Next;
      }
    }
    if (!has_free_slot()) {
      return fail(unexpected_argument(*current_, arg,
                                      only_positionals_ ? "" : subcommand_tip(*current_, arg)));
    }
    positionals_.push_back(arg);
    ++filled_;
    return Step::Next;
  }

  Step long_option(std::string_view arg) {
    const std::size_t equals = arg.find('=');
    const std::string name(arg.substr(0, equals));
    std::optional<std::string> value;
    if (equals != std::string_view::npos) value = std::string(arg.substr(equals + 1));
    const CLI::Option* option = current_->get_option_no_throw(name);
    if (option == nullptr) {
      return fail(unexpected_argument(*current_, name, option_tip(*current_, name)));
    }
    return occurrence(*option, name, std::move(value));
  }

  Step short_options(std::string_view arg) {
    for (std::size_t at = 1; at < arg.size();) {
      const std::size_t length = character_length(arg, at);
      const std::string name = "-" + std::string(arg.substr(at, length));
      const CLI::Option* option = current_->get_option_no_throw(name);
      if (option == nullptr) return fail(unexpected_argument(*current_, name));
      const std::string_view rest = arg.substr(at + length);
      std::optional<std::string> value;
      if (rest.starts_with('=')) {
        value = std::string(rest.substr(1));
      } else if (takes_value(*option) && !rest.empty()) {
        value = std::string(rest);
      }
      const Step step = occurrence(*option, name, std::move(value));
      if (step != Step::Next || takes_value(*option)) return step;
      at += length;
    }
    return Step::Next;
  }

  // One use of `option`, spelled `name`, with the value given after "=" or attached.
  Step occurrence(const CLI::Option& option, const std::string& name,
                  std::optional<std::string> value) {
    if (!seen_.insert(&option).second) {
      return fail(usage_error(*current_, "the argument '" + arg_display(option) +
                                             "' cannot be used multiple times"));
    }
    if (!takes_value(option)) {
      if (value) {
        return fail(usage_error(*current_, "unexpected value " + quote_arg(*value) + " for '" +
                                               arg_display(option) +
                                               "' found; no more were expected"));
      }
      tokens_.push_back(name);
      return is_builtin(*current_, &option) ? Step::Stop : Step::Next;
    }
    if (!value) {
      const bool has_next = index_ + 1 < args_.size();
      if (!has_next || looks_like_option(args_[index_ + 1])) {
        std::string tip;
        if (has_next) {
          const std::string& next = args_[index_ + 1];
          tip = "to pass " + quote_arg(next) + " as a value, use " + quote_arg(name + "=" + next);
        }
        return fail(usage_error(*current_,
                                value_required_message(option),
                                tip));
      }
      value = args_[++index_];
    }
    tokens_.push_back(name);
    tokens_.push_back(*std::move(value));
    return Step::Next;
  }

  // The bytes of the (UTF-8) character at `at`, so that "-é" is named whole in a message.
  static std::size_t character_length(std::string_view arg, std::size_t at) {
    const auto lead = static_cast<unsigned char>(arg[at]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return std::min(length, arg.size() - at);
  }

  const Command* current_;
  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
  bool only_positionals_ = false;
  std::size_t filled_ = 0;  // positional values of the current command
  std::set<const CLI::Option*> seen_;
  std::vector<std::string> tokens_;
  std::vector<std::string> positionals_;
  std::optional<ParserOutcome> error_;
};

// --- After the walk ---

// Runs CLI11 over the walked arguments. Its help, version and errors become the outcome.
std::optional<ParserOutcome> run_parser(Command& top, const std::vector<std::string>& tokens) {
  try {
    // CLI11 takes the arguments last first.
    top.parse(std::vector<std::string>(tokens.rbegin(), tokens.rend()));
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    return ParserOutcome{help_text(selected_command(top), HelpMode::Short), Stream::Stdout, 0};
  } catch (const CLI::CallForAllHelp&) {
    return ParserOutcome{help_text(selected_command(top), HelpMode::Long), Stream::Stdout, 0};
  } catch (const CLI::CallForVersion& version) {
    return ParserOutcome{std::string(version.what()) + "\n", Stream::Stdout, 0};
  } catch (const CLI::RequiredError&) {
    return missing_arguments(selected_command(top));
  } catch (const CLI::ValidationError& error) {
    // CLI11 puts the option's name before the message of the check: "--dir: <message>".
    std::string_view message = error.what();
    if (const std::size_t colon = message.find(": "); colon != std::string_view::npos) {
      message.remove_prefix(colon + 2);
    }
    return usage_error(selected_command(top), message);
  } catch (const CLI::Error& error) {
    return usage_error(selected_command(top), error.what());
  }
}

// `brintle help make module`: the long help of the command that the topics name.
ParserOutcome help_for_topics(const Command& help) {
  const Command* target = &as_command(*help.get_parent());
  for (const CLI::Option* topics : own_arguments(help, true)) {
    for (const std::string& topic : topics->results()) {
      const Command* sub = find_subcommand(*target, topic);
      if (sub == nullptr) {
        return unexpected_argument(*target, topic, subcommand_tip(*target, topic));
      }
      target = sub;
    }
  }
  return {help_text(*target, HelpMode::Long), Stream::Stdout, 0};
}

}  // namespace

std::string arg_display(const CLI::Option& option) {
  if (option.get_positional()) {
    const std::string name = option.get_name(true);
    const std::string shown = option.get_required() ? "<" + name + ">" : "[" + name + "]";
    return option.get_allow_extra_args() ? shown + "..." : shown;
  }
  // The long name, or the short one when there is no long name.
  std::string shown = option.get_name();
  if (takes_value(option)) shown += " <" + option.get_type_name() + ">";
  return shown;
}

std::string value_required_message(const CLI::Option& option) {
  return "a value is required for '" + arg_display(option) + "' but none was supplied";
}

std::string usage(const Command& command) {
  std::string line = command_path(command);
  if (!command.get_options([](const CLI::Option* option) { return option->nonpositional(); })
           .empty()) {
    line += " [OPTIONS]";
  }
  for (const CLI::Option* positional : own_arguments(command, true)) {
    line += " " + arg_display(*positional);
  }
  if (!subcommands_of(command).empty()) line += " <COMMAND>";
  return line;
}

std::string help_text(const Command& command, HelpMode mode) {
  const std::vector<Section> sections = [&] {
    Section subcommands{"Commands", {}};
    for (const Command* sub : subcommands_of(command)) {
      subcommands.rows.push_back({sub->get_name(), sub->get_description()});
    }
    Section positionals{"Arguments", {}};
    for (const CLI::Option* positional : own_arguments(command, true)) {
      positionals.rows.push_back({arg_display(*positional), positional->get_description()});
    }
    return std::vector<Section>{subcommands, positionals, {"Options", option_rows(command, mode)}};
  }();

  // One column of help texts for the whole page.
  std::size_t width = 0;
  for (const Section& section : sections) {
    for (const Row& row : section.rows) width = std::max(width, row.name.size());
  }

  const bool long_about = mode == HelpMode::Long && !command.long_about.empty();
  std::string text = long_about ? command.long_about : command.get_description();
  text += "\n\nUsage: " + usage(command) + "\n";
  for (const Section& section : sections) {
    if (section.rows.empty()) continue;
    text += "\n" + std::string(section.title) + ":\n";
    for (const Row& row : section.rows) {
      text += "  " + row.name;
      if (!row.help.empty()) text += std::string(width - row.name.size() + 2, ' ') + row.help;
      text += "\n";
    }
  }
  return text;
}

std::variant<Cli, ParserOutcome> parse_command_line(const std::vector<std::string>& args) {
  Command top("brintle");
  augment_args(top);

  auto tokens = Walk(top, args).run();
  if (!tokens) return std::move(tokens.error());
  if (auto outcome = run_parser(top, *tokens)) return *std::move(outcome);

  const Command& selected = selected_command(top);
  // The parser's own help subcommand.
  if (&selected != &top && selected.get_name() == "help") return help_for_topics(selected);
  if (!subcommands_of(selected).empty()) {
    if (selected.help_when_bare) {
      return ParserOutcome{help_text(selected, HelpMode::Short), Stream::Stderr, 2};
    }
    if (selected.subcommand_required) {
      return usage_error(selected, "a subcommand is required but one was not provided");
    }
  }

  auto cli = from_arg_matches_mut<Cli>(top);
  if (!cli) {
    // The conversion error is formatted against a definition built afresh, as it was at the start.
    Command fresh("brintle");
    return usage_error(augment_args(fresh), cli.error().message);
  }
  return std::move(*cli);
}

}  // namespace cli
