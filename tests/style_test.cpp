#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "style/output.h"
#include "style/style.h"

namespace {

using Env = std::map<std::string, std::string, std::less<>>;

bool colour_for(const Env& vars, bool is_terminal) {
  return style::colour_enabled(
      [&](std::string_view name) -> std::optional<std::string> {
        const auto found = vars.find(name);
        if (found == vars.end()) return std::nullopt;
        return found->second;
      },
      is_terminal);
}

TEST(Style, WrappersWriteTheirExactCodes) {
  EXPECT_EQ(fmt::format("{}", style::Red{"error:"}), "\x1b[31merror:\x1b[39m");
  EXPECT_EQ(fmt::format("{}", style::Green{"[created]"}), "\x1b[32m[created]\x1b[39m");
  EXPECT_EQ(fmt::format("{}", style::Yellow{"[skipped]"}), "\x1b[33m[skipped]\x1b[39m");
  EXPECT_EQ(fmt::format("{}", style::Cyan{"[dry-run]"}), "\x1b[36m[dry-run]\x1b[39m");
  EXPECT_EQ(fmt::format("{}", style::Bold{"Registered modules"}),
            "\x1b[1mRegistered modules\x1b[0m");
  EXPECT_EQ(style::Cyan{"a\nb"}.str(), "\x1b[36ma\nb\x1b[39m");
  EXPECT_EQ(style::Green{""}.str(), "\x1b[32m\x1b[39m");
  const std::string owned = "owned text";
  EXPECT_EQ(style::Yellow{owned}.str(), "\x1b[33mowned text\x1b[39m");
}

TEST(Style, FormatOptionsApplyToTheTextInsideTheCodes) {
  EXPECT_EQ(fmt::format("{:>5}", style::Green{"ab"}), "\x1b[32m   ab\x1b[39m");
  EXPECT_EQ(fmt::format("{:-<4}|", style::Bold{"x"}), "\x1b[1mx---\x1b[0m|");
}

TEST(Style, ColourRule) {
  struct Case {
    const char* name;
    Env vars;
    bool is_terminal;
    bool colour;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"terminal without variables", {}, true, false},
           {"pipe without variables", {}, false, false},
           {"TERM on a terminal", {{"TERM", "xterm-256color"}}, true, true},
           {"TERM on a pipe", {{"TERM", "xterm"}}, false, false},
           {"empty TERM counts as set", {{"TERM", ""}}, true, true},
           {"dumb TERM", {{"TERM", "dumb"}}, true, false},
           {"dumb TERM with CI", {{"TERM", "dumb"}, {"CI", "true"}}, true, true},
           {"CI on a terminal", {{"CI", ""}}, true, true},
           {"CI on a pipe", {{"CI", "1"}}, false, false},
           {"CLICOLOR=1 on a terminal", {{"CLICOLOR", "1"}}, true, true},
           {"empty CLICOLOR on a terminal", {{"CLICOLOR", ""}}, true, true},
           {"CLICOLOR=1 on a pipe", {{"CLICOLOR", "1"}}, false, false},
           {"CLICOLOR=0 beats TERM", {{"CLICOLOR", "0"}, {"TERM", "xterm"}}, true, false},
           {"CLICOLOR=0 beats CI", {{"CLICOLOR", "0"}, {"CI", "1"}}, true, false},
           {"CLICOLOR_FORCE on a pipe", {{"CLICOLOR_FORCE", "1"}}, false, true},
           {"CLICOLOR_FORCE=0 is non-empty", {{"CLICOLOR_FORCE", "0"}}, false, true},
           {"empty CLICOLOR_FORCE", {{"CLICOLOR_FORCE", ""}}, false, false},
           {"CLICOLOR_FORCE beats CLICOLOR=0", {{"CLICOLOR_FORCE", "1"}, {"CLICOLOR", "0"}}, false,
            true},
           {"NO_COLOR beats CLICOLOR_FORCE", {{"NO_COLOR", "1"}, {"CLICOLOR_FORCE", "1"}}, true,
            false},
           {"NO_COLOR beats TERM", {{"NO_COLOR", "yes"}, {"TERM", "xterm"}}, true, false},
           {"empty NO_COLOR is ignored", {{"NO_COLOR", ""}, {"TERM", "xterm"}}, true, true},
           {"empty NO_COLOR with force", {{"NO_COLOR", ""}, {"CLICOLOR_FORCE", "1"}}, false,
            true},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(colour_for(c.vars, c.is_terminal), c.colour);
  }
}

TEST(Style, StripAnsiRemovesEverySequenceAndKeepsText) {
  struct Case {
    std::string_view in, out;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"", ""},
           {"plain text, ünïcödé ✓\ttab\r\n", "plain text, ünïcödé ✓\ttab\r\n"},
           {"\x1b[31merror:\x1b[39m Not a directory", "error: Not a directory"},
           {"\x1b[1mbold\x1b[0m", "bold"},
           {"\x1b[33m[dry-run]\x1b[39m \x1b[36m[dry-run]\x1b[39m /p/a.py",
            "[dry-run] [dry-run] /p/a.py"},
           {"\x1b[38;5;208mcolour\x1b[m", "colour"},
           {"\x1b[?25lcursor\x1b[?25h", "cursor"},
           {"\x1b[2J\x1b[1;1Hclear", "clear"},
           {"\x1b]0;window title\x07" "after", "after"},
           {"\x1b]8;;https://example.com\x1b\\link\x1b]8;;\x1b\\", "link"},
           {"\x1bPdevice control\x1b\\x", "x"},
           {"\x1b(Bcharset", "charset"},
           {"\x1b" "7saved\x1b" "8", "saved"},
           {"\x1b[31\x18text", "text"},
           {"\x1b[31\nm", "\n"},
           {"\x1b\x1b[32mtwice", "twice"},
           {"\x1b\xc3\xa9", "\xc3\xa9"},
           {"trailing\x1b", "trailing"},
           {"trailing csi\x1b[3", "trailing csi"},
           {"[31m not an escape", "[31m not an escape"},
       }) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
    EXPECT_EQ(style::strip_ansi(c.in), c.out);
  }
}

// Each case runs in a child process, since a failed print ends the process.
void print_with_stdout_on(int fd) {
  std::signal(SIGPIPE, SIG_IGN);
  ::dup2(fd, STDOUT_FILENO);
  style::print_stdout("a message");
  std::_Exit(0);
}

TEST(PrintLineDeathTest, BrokenPipeAndClosedDescriptorAreNoFailure) {
  EXPECT_EXIT(
      {
        int ends[2];
        if (::pipe(ends) != 0) std::_Exit(2);
        ::close(ends[0]);
        print_with_stdout_on(ends[1]);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        ::close(STDOUT_FILENO);
        style::print_stdout("a message");
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(PrintLineDeathTest, OtherFailuresEndWithStatus101) {
  EXPECT_EXIT(print_with_stdout_on(::open("/dev/full", O_WRONLY)), testing::ExitedWithCode(101),
              "failed printing to stdout: No space left on device \\(os error 28\\)");
  EXPECT_EXIT(
      {
        ::dup2(::open("/dev/full", O_WRONLY), STDERR_FILENO);
        style::print_error_line("boom");
        std::_Exit(0);
      },
      testing::ExitedWithCode(101), "");
}

}  // namespace
