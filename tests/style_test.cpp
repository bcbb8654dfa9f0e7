#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "style/output.h"
#include "style/style.h"

TEST(Style, ColourRule) {
  using Env = std::map<std::string, std::string, std::less<>>;
  for (const auto& [vars, tty, colour] : std::vector<std::tuple<Env, bool, bool>>{
           {{}, true, false},
           {{{"TERM", "xterm"}}, true, true},
           {{{"TERM", "xterm"}}, false, false},
           {{{"TERM", "dumb"}}, true, false},
           {{{"TERM", "dumb"}, {"CI", ""}}, true, true},
           {{{"CLICOLOR", ""}}, true, true},
           {{{"CLICOLOR", "0"}, {"CI", "1"}, {"TERM", "xterm"}}, true, false},
           {{{"CLICOLOR_FORCE", "1"}, {"CLICOLOR", "0"}, {"NO_COLOR", ""}}, false, true},
           {{{"CLICOLOR_FORCE", ""}}, false, false},
           {{{"NO_COLOR", "1"}, {"CLICOLOR_FORCE", "1"}}, true, false},
       }) {
    const auto env = [&](std::string_view name) -> std::optional<std::string> {
      return vars.contains(name) ? std::optional(vars.find(name)->second) : std::nullopt;
    };
    EXPECT_EQ(style::colour_enabled(env, tty), colour) << testing::PrintToString(vars) << tty;
  }
}

TEST(Style, StripAnsiRemovesEscapesAndKeepsEveryOtherByte) {
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"plain \xc3\xbc \xe2\x9c\x93\t\r\n[31m", "plain \xc3\xbc \xe2\x9c\x93\t\r\n[31m"},
           {"\x1b[31me\x1b[39m \x1b[38;5;208mx\x1b[m\x1b[?25ly\x1b[2J", "e xy"},
           {"\x1b]0;title\x07" "a\x1b]8;;https://x\x1b\\b\x1bPdcs\x1b\\c\x1b(Bd\x1b" "7e", "abcde"},
           {"\x1b\xc3\xa9 \x1b[31\x18z\x1b[3", "\xc3\xa9 z"},
       }) {
    EXPECT_EQ(style::strip_ansi(in), out) << testing::PrintToString(in);
  }
}

TEST(Style, EachStyleWrapsTheFormattedTextInItsCodes) {
  EXPECT_EQ(fmt::format("{}{}{}{}{:>2}", style::Red{"r"}, style::Green{"g"}, style::Yellow{"y"},
                        style::Cyan{"c"}, style::Bold{"b"}),
            "\x1b[31mr\x1b[39m\x1b[32mg\x1b[39m\x1b[33my\x1b[39m\x1b[36mc\x1b[39m\x1b[1m b\x1b[0m");
}
