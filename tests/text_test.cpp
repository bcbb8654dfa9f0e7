#include "text/text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace {

TEST(Text, WhiteSpaceIsExactlyTheUnicodeProperty) {
  const std::vector<char32_t> white = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680,
                                       0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F,
                                       0x3000};
  const std::vector<char32_t> not_white = {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x84, 0x86, 0x9F, 0x180E,
                                           0x200B, 0x200C, 0x2060, 0xFEFF, 0x3001, 'a'};
  for (char32_t c : white) EXPECT_TRUE(text::is_white_space(c)) << std::hex << unsigned(c);
  for (char32_t c : not_white) EXPECT_FALSE(text::is_white_space(c)) << std::hex << unsigned(c);
}

TEST(Text, Utf8Validity) {
  for (std::string_view ok : {"", "plain", "caf\u00E9", "\u4E2D", "\U0001F600", "\x7F",
                              "\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_TRUE(text::is_valid_utf8(ok)) << ok;
  }
  for (std::string_view bad : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xC3", "\xE0\x80\x80",
                               "\xED\xA0\x80", "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF5",
                               "\xFF", "ab\xE4\xB8", "\xEF\xBB"}) {
    EXPECT_FALSE(text::is_valid_utf8(bad));
  }
}

TEST(Text, Trimming) {
  struct Case { std::string_view in, start, end, both; };
  for (const Case& c : std::initializer_list<Case>{
           {"", "", "", ""},
           {" \t\r\n", "", "", ""},
           {"  a b  ", "a b  ", "  a b", "a b"},
           {"\u00A0\u3000x\u2028\u0085", "x\u2028\u0085", "\u00A0\u3000x", "x"},
           {"\u200Bx\u200B", "\u200Bx\u200B", "\u200Bx\u200B", "\u200Bx\u200B"},
           {"\u00E9 ", "\u00E9 ", "\u00E9", "\u00E9"},
           // Bytes that are not UTF-8 are kept, whatever they would decode to.
           {"\xC9", "\xC9", "\xC9", "\xC9"},
           {" \x80", "\x80", " \x80", "\x80"},
       }) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(text::trim_start(c.in), c.start);
    EXPECT_EQ(text::trim_end(c.in), c.end);
    EXPECT_EQ(text::trim(c.in), c.both);
  }
}

TEST(Text, SplitLines) {
  using Lines = std::vector<std::string_view>;
  struct Case { std::string_view in; Lines lines; };
  for (const Case& c : std::initializer_list<Case>{
           {"", {}},
           {"\n", {""}},
           {"a", {"a"}},
           {"a\n", {"a"}},
           {"a\n\n", {"a", ""}},
           {"a\r\nb\r\n", {"a", "b"}},
           {"a\r\r\nb", {"a\r", "b"}},
           {"a\rb\r", {"a\rb\r"}},
           {"\r\n\r\n", {"", ""}},
           {"x\ny", {"x", "y"}},
       }) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(text::split_lines(c.in), c.lines);
  }
}

TEST(Text, JoinAndStripNewlines) {
  EXPECT_EQ(text::join_lines({}), "");
  EXPECT_EQ(text::join_lines({"a", "", "b"}), "a\n\nb");
  EXPECT_EQ(text::strip_trailing_newlines("a\n\n\n"), "a");
  EXPECT_EQ(text::strip_trailing_newlines("a\r\n"), "a\r");
  EXPECT_EQ(text::strip_trailing_newlines("\n"), "");
}

TEST(Text, LossyUtf8ReplacesEachMaximalInvalidSubpart) {
  const std::string r = "\uFFFD";
  struct Case { std::string_view in; std::string out; };
  for (const Case& c : std::initializer_list<Case>{
           {"caf\u00E9", "caf\u00E9"},
           {"a\xFF" "b", "a" + r + "b"},
           // A truncated sequence is one subpart; a byte that cannot continue it starts anew.
           {"\xE2\x82" "a", r + "a"},
           {"\xF0\x9F\x98", r},
           {"\xF0\x9F\x98\xF0\x9F\x98\x80", r + "\U0001F600"},
           // Overlong forms and surrogates break at the second byte.
           {"\xC0\xAF", r + r},
           {"\xE0\x80\x80", r + r + r},
           {"\xED\xA0\x80", r + r + r},
           {"\xF4\x90\x80\x80", r + r + r + r},
           {"\x80\x80", r + r},
           {"\xE2\x82\xAC", "\u20AC"},
       }) {
    EXPECT_EQ(text::lossy_utf8(c.in), c.out);
  }
}

TEST(Text, DecodeAdvancesPastEachCharacter) {
  const std::string_view s = "a\u00E9\u20AC\U0001F600\xE2\x82";
  std::vector<char32_t> decoded;
  for (std::size_t pos = 0; pos < s.size();) decoded.push_back(text::decode_utf8(s, pos));
  EXPECT_EQ(decoded, (std::vector<char32_t>{'a', 0xE9, 0x20AC, 0x1F600, 0xFFFD}));
}

}  // namespace
