#include "table/table.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The frames of the two column layouts most renderings share: 8/10/13 and 8/6/13 wide.
const std::string kHead10 = "┌────────┬──────────┬─────────────┐\n"
                            "│ module ┆ path     ┆ description │\n"
                            "╞════════╪══════════╪═════════════╡\n";
const std::string kFoot10 = "└────────┴──────────┴─────────────┘";
const std::string kSep10 = "├╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌┤\n";
const std::string kHead6 = "┌────────┬──────┬─────────────┐\n"
                           "│ module ┆ path ┆ description │\n"
                           "╞════════╪══════╪═════════════╡\n";
const std::string kFoot6 = "└────────┴──────┴─────────────┘";

TEST(Table, RendersTheReferenceTablesByteForByte) {
  const std::pair<std::vector<std::vector<std::string>>, std::string> cases[] = {
      {{}, kHead6 + kFoot6},
      {{{"core", "src/core", "Core module"}},
       kHead10 + "│ core   ┆ src/core ┆ Core module │\n" + kFoot10},
      {{{"core", "src/core", "Core module"}, {"net", "src/net", "Networking"}},
       kHead10 + "│ core   ┆ src/core ┆ Core module │\n" + kSep10 +
           "│ net    ┆ src/net  ┆ Networking  │\n" + kFoot10},
      {{{"core", "", "Core module"}}, kHead6 + "│ core   ┆      ┆ Core module │\n" + kFoot6},
      {{{"core"}, {}},  // missing cells are blank, as if empty
       kHead6 + "│ core   ┆      ┆             │\n├╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌┤\n"
                "│        ┆      ┆             │\n" + kFoot6},
      {{{"core", "src/core", "line one\nline two is longer"}},
       "┌────────┬──────────┬────────────────────┐\n"
       "│ module ┆ path     ┆ description        │\n"
       "╞════════╪══════════╪════════════════════╡\n"
       "│ core   ┆ src/core ┆ line one           │\n"
       "│        ┆          ┆ line two is longer │\n"
       "└────────┴──────────┴────────────────────┘"},
      {{{"core", "src/core\nsrc/core2", "Core"}, {"net", "src/net", "Networking"}},
       "┌────────┬───────────┬─────────────┐\n"
       "│ module ┆ path      ┆ description │\n"
       "╞════════╪═══════════╪═════════════╡\n"
       "│ core   ┆ src/core  ┆ Core        │\n"
       "│        ┆ src/core2 ┆             │\n"
       "├╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌┤\n"
       "│ net    ┆ src/net   ┆ Networking  │\n"
       "└────────┴───────────┴─────────────┘"},
      {{{"core", "src/core", "desc\n"}, {"core", "src/core", "a\r\nb"}},
       kHead10 + "│ core   ┆ src/core ┆ desc        │\n│        ┆          ┆             │\n" +
           kSep10 + "│ core   ┆ src/core ┆ a\r          │\n│        ┆          ┆ b           │\n" +
           kFoot10},
      {{{"café", "src/数据", "emoji 🚀 ok"}, {"数据库", "p", "❤\uFE0F and ❤"}},
       kHead10 + "│ café   ┆ src/数据 ┆ emoji 🚀 ok │\n" + kSep10 +
           "│ 数据库 ┆ p        ┆ ❤\uFE0F and ❤    │\n" + kFoot10},
      {{{"\U0001F469\u200D\U0001F4BB", "x\u200By", "e\u0301"}},
       kHead6 + "│ \U0001F469\u200D\U0001F4BB     ┆ x\u200By   ┆ e\u0301           │\n" + kFoot6},
  };
  for (const auto& [rows, expected] : cases)
    EXPECT_EQ(table::render({"module", "path", "description"}, rows), expected);
}

TEST(Table, DisplayWidthCountsTerminalColumns) {
  const std::pair<std::string_view, std::size_t> cases[] = {
      {"src.modules.blog", 16}, {"路径", 4}, {"e\u0301", 1}, {"x\u200By", 2}, {"\x1b\t\x7f", 3},
      {"\U0001F469\u200D\U0001F4BB", 2}, {"👍🏽", 2}, {"❤\uFE0F", 2}, {"❤", 1}, {"🇺🇸🇩🇪", 4},
      {"🇺🇸", 2}, {"a\r", 2}, {"a\r\nb", 3}, {"\r\n", 1}, {"é\r\n", 2},
      // Script ligatures and the characters the library widens, as it measures them.
      {"\u0644\u064E\u0627", 1}, {"\u0644 \u0627", 3}, {"\u05D0\u200D\u05DC", 1},
      {"\u1780\u17D2\u1780", 1}, {"\u17D2\u1783", 1}, {"\u115F", 2}, {"\u17D8", 3},
      {"\u2018\uFE01", 2}, {"\u2018\uFE00", 1}, {"\u0605\u0661", 1}, {"\u0600\u0661", 2},
      {"\uA4F8\uA4FC\uA4F8a", 3}, {"\u2D31\u2D7F\u2D32\u2D31\u200D\u2D32", 2}};
  for (const auto& [text, width] : cases) EXPECT_EQ(table::display_width(text), width) << text;
}

}  // namespace
