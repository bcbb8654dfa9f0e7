#include "table/table.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Rows = std::vector<std::vector<std::string>>;

const std::vector<std::string> kHeader{"module", "path", "description"};

// The lines as the table draws them, joined without a final line feed.
std::string lines(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) {
    if (!out.empty()) out += '\n';
    out += part;
  }
  return out;
}

TEST(Table, HeaderOnlyKeepsTheLineUnderTheHeader) {
  const std::string rendered = table::render(kHeader, {});
  EXPECT_EQ(rendered, lines({"┌────────┬──────┬─────────────┐",
                             "│ module ┆ path ┆ description │",
                             "╞════════╪══════╪═════════════╡",
                             "└────────┴──────┴─────────────┘"}));
  EXPECT_EQ(rendered.size(), 321u);
  EXPECT_EQ(rendered.substr(0, 6), "\xE2\x94\x8C\xE2\x94\x80");
  EXPECT_EQ(rendered.substr(rendered.size() - 3), "\xE2\x94\x98");
  EXPECT_NE(rendered.back(), '\n');
}

TEST(Table, BodyRowsWithSeparatorsOnlyBetweenThem) {
  EXPECT_EQ(table::render(kHeader, Rows{{"core", "src/core", "Core module"}}),
            lines({"┌────────┬──────────┬─────────────┐",
                   "│ module ┆ path     ┆ description │",
                   "╞════════╪══════════╪═════════════╡",
                   "│ core   ┆ src/core ┆ Core module │",
                   "└────────┴──────────┴─────────────┘"}));

  EXPECT_EQ(table::render(kHeader, Rows{{"core", "src/core", "Core module"},
                                        {"net", "src/net", "Networking"}}),
            lines({"┌────────┬──────────┬─────────────┐",
                   "│ module ┆ path     ┆ description │",
                   "╞════════╪══════════╪═════════════╡",
                   "│ core   ┆ src/core ┆ Core module │",
                   "├╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌┤",
                   "│ net    ┆ src/net  ┆ Networking  │",
                   "└────────┴──────────┴─────────────┘"}));

  const std::string three = table::render(kHeader, Rows{{"a", "b", "c"}, {"d"}, {"e"}});
  std::size_t separators = 0;
  for (auto at = three.find("├"); at != std::string::npos; at = three.find("├", at + 1)) {
    ++separators;
  }
  EXPECT_EQ(separators, 2u) << three;
}

TEST(Table, EmptyAndMissingCellsAreBlank) {
  const std::string empty_path = lines({"┌────────┬──────┬─────────────┐",
                                        "│ module ┆ path ┆ description │",
                                        "╞════════╪══════╪═════════════╡",
                                        "│ core   ┆      ┆ Core module │",
                                        "└────────┴──────┴─────────────┘"});
  EXPECT_EQ(table::render(kHeader, Rows{{"core", "", "Core module"}}), empty_path);

  const std::string all_empty = table::render(kHeader, Rows{{"", "", ""}});
  EXPECT_NE(all_empty.find("\n│        ┆      ┆             │\n"), std::string::npos) << all_empty;

  // A short row looks exactly like one holding empty strings.
  EXPECT_EQ(table::render(kHeader, Rows{{"core"}}), table::render(kHeader, Rows{{"core", "", ""}}));
  EXPECT_EQ(table::render(kHeader, Rows{{}}), all_empty);

  // A longer row adds a column of width 1; the header gets a blank cell there.
  EXPECT_EQ(table::render(kHeader, Rows{{"a", "b", "c", ""}}),
            lines({"┌────────┬──────┬─────────────┬───┐",
                   "│ module ┆ path ┆ description ┆   │",
                   "╞════════╪══════╪═════════════╪═══╡",
                   "│ a      ┆ b    ┆ c           ┆   │",
                   "└────────┴──────┴─────────────┴───┘"}));
}

TEST(Table, MultiLineCellsGrowTheRow) {
  EXPECT_EQ(table::render(kHeader, Rows{{"core", "src/core", "line one\nline two is longer"}}),
            lines({"┌────────┬──────────┬────────────────────┐",
                   "│ module ┆ path     ┆ description        │",
                   "╞════════╪══════════╪════════════════════╡",
                   "│ core   ┆ src/core ┆ line one           │",
                   "│        ┆          ┆ line two is longer │",
                   "└────────┴──────────┴────────────────────┘"}));

  EXPECT_EQ(table::render(kHeader, Rows{{"core", "src/core\nsrc/core2", "Core"},
                                        {"net", "src/net", "Networking"}}),
            lines({"┌────────┬───────────┬─────────────┐",
                   "│ module ┆ path      ┆ description │",
                   "╞════════╪═══════════╪═════════════╡",
                   "│ core   ┆ src/core  ┆ Core        │",
                   "│        ┆ src/core2 ┆             │",
                   "├╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌┤",
                   "│ net    ┆ src/net   ┆ Networking  │",
                   "└────────┴───────────┴─────────────┘"}));

  EXPECT_EQ(table::render(kHeader, Rows{{"core", "src/core", "desc\n"}}),
            lines({"┌────────┬──────────┬─────────────┐",
                   "│ module ┆ path     ┆ description │",
                   "╞════════╪══════════╪═════════════╡",
                   "│ core   ┆ src/core ┆ desc        │",
                   "│        ┆          ┆             │",
                   "└────────┴──────────┴─────────────┘"}));

  // The carriage return stays in the output and takes its column.
  EXPECT_EQ(table::render({"a\r\nb"}, {}), lines({"┌────┐",
                                                  "│ a\r │",
                                                  "│ b  │",
                                                  "╞════╡",
                                                  "└────┘"}));
  const std::string crlf = table::render(kHeader, Rows{{"core", "src/core", "a\r\nb"}});
  EXPECT_NE(crlf.find("┆ a\r" + std::string(10, ' ') + "│\n"), std::string::npos) << crlf;
  EXPECT_NE(crlf.find("┆ b" + std::string(11, ' ') + "│\n"), std::string::npos) << crlf;
}

TEST(Table, NonAsciiTextIsMeasuredInColumns) {
  EXPECT_EQ(table::render(kHeader, Rows{{"café", "src/数据", "emoji 🚀 ok"},
                                        {"数据库", "p", "❤\uFE0F and ❤"}}),
            lines({"┌────────┬──────────┬─────────────┐",
                   "│ module ┆ path     ┆ description │",
                   "╞════════╪══════════╪═════════════╡",
                   "│ café   ┆ src/数据 ┆ emoji 🚀 ok │",
                   "├╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌┼╌╌╌╌╌╌╌╌╌╌╌╌╌┤",
                   "│ 数据库 ┆ p        ┆ ❤\uFE0F and ❤    │",
                   "└────────┴──────────┴─────────────┘"}));

  EXPECT_EQ(table::render(kHeader, Rows{{"\U0001F469\u200D\U0001F4BB", "x\u200By", "e\u0301"}}),
            lines({"┌────────┬──────┬─────────────┐",
                   "│ module ┆ path ┆ description │",
                   "╞════════╪══════╪═════════════╡",
                   "│ \U0001F469\u200D\U0001F4BB     ┆ x\u200By   ┆ e\u0301           │",
                   "└────────┴──────┴─────────────┘"}));
}

TEST(Table, TextIsNeitherTrimmedNorInterpreted) {
  // Blanks count, tabs stay tabs, and escape sequences are measured byte by byte.
  EXPECT_EQ(table::render({"trail  ", "\tx"}, {}), lines({"┌─────────┬────┐",
                                                          "│ trail   ┆ \tx │",
                                                          "╞═════════╪════╡",
                                                          "└─────────┴────┘"}));
  EXPECT_EQ(table::render(kHeader, Rows{{"\x1b[1mbold\x1b[0m", "p", "d"}}),
            lines({"┌──────────────┬──────┬─────────────┐",
                   "│ module       ┆ path ┆ description │",
                   "╞══════════════╪══════╪═════════════╡",
                   "│ \x1b[1mbold\x1b[0m ┆ p    ┆ d           │",
                   "└──────────────┴──────┴─────────────┘"}));
}

TEST(Table, DisplayWidth) {
  struct Case {
    std::string_view name;
    std::string text;
    std::size_t width;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"empty", "", 0},
           {"ascii", "src.modules.blog", 16},
           {"precomposed", "café", 4},
           {"combining acute", "e\u0301", 1},
           {"combining marks pile up", "a\u0301\u0302\u0303b", 2},
           {"cjk", "路径", 4},
           {"fullwidth", "Ｈ", 2},
           {"hangul syllable", "한", 2},
           {"hangul jamo", "\u1100\u1161\u11A8", 2},
           {"rocket", "🚀", 2},
           {"check mark", "✅", 2},
           {"heart alone", "❤", 1},
           {"heart as emoji", "❤\uFE0F", 2},
           {"warning", "⚠", 1},
           {"warning as emoji", "⚠\uFE0F", 2},
           {"rocket as text", "🚀\uFE0E", 1},
           {"zwj sequence", "\U0001F469\u200D\U0001F4BB", 2},
           {"family", "\U0001F468\u200D\U0001F469\u200D\U0001F467", 2},
           {"skin tone", "👍🏽", 2},
           {"skin tone alone", "🏽", 2},
           {"flag", "🇺🇸", 2},
           {"two flags", "🇺🇸🇩🇪", 4},
           {"keycap", "1\uFE0F\u20E3", 2},
           {"letter with emoji selector", "a\uFE0F", 1},
           {"ambiguous", "½·", 2},
           {"zero width space", "x\u200By", 2},
           {"soft hyphen", "\u00AD", 0},
           {"no-break space", "\u00A0", 1},
           {"tab", "\t", 1},
           {"escape", "\x1b", 1},
           {"delete", "\x7f", 1},
           {"nul", std::string(1, '\0'), 1},
           {"next line", "\u0085", 1},
           {"line separator", "\u2028", 1},
           {"spacing mark", "\u0915\u0903", 2},
           {"format character", "\uFFF9", 1},
           {"carriage return", "a\r", 2},
           {"crlf", "\r\n", 1},
           {"crlf inside", "a\r\nb", 3},
           {"lone line feed", "\n", 1},
           {"stray byte", "a\xff", 2},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(table::display_width(c.text), c.width);
  }
}

}  // namespace
