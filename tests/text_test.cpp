#include "text/text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Lines = std::vector<std::string_view>;

TEST(Text, TrimRemovesUnicodeWhiteSpaceAndKeepsEveryOtherByte) {
  const std::string white = "\t\n\v\f\r \u0085\u00A0\u1680\u2000\u200A\u2028\u2029\u202F"
                            "\u205F\u3000";
  // Zero width space and byte-order mark are not White_Space.
  EXPECT_EQ(text::trim(white + "\u200Ba \uFEFF" + white), "\u200Ba \uFEFF");
  EXPECT_EQ(text::trim_start(" \u3000x\u00A0"), "x\u00A0");
  EXPECT_EQ(text::trim_end(" \x80"), " \x80");  // a stray continuation byte ends no character
  EXPECT_EQ(text::trim("\xC9"), "\xC9");       // a lone lead byte is read no further
}

TEST(Text, SplitLinesAtLineFeedsRemovingOneCarriageReturn) {
  EXPECT_EQ(text::split_lines(""), Lines{});
  EXPECT_EQ(text::split_lines("\n"), Lines{""});
  EXPECT_EQ(text::split_lines("a\r\n\nb\r\r\nc\rd"), (Lines{"a", "", "b\r", "c\rd"}));
}

TEST(Text, LossyUtf8GivesOneReplacementPerMaximalInvalidSubpart) {
  const std::string r = "\uFFFD", r4 = r + r + r + r;
  EXPECT_EQ(text::lossy_utf8("caf\u00E9\uD7FF\U0010FFFF"), "caf\u00E9\uD7FF\U0010FFFF");
  // A truncated sequence is one subpart; a byte that cannot continue it starts anew.
  EXPECT_EQ(text::lossy_utf8("a\xFF" "b\xE2\x82" "c\xF0\x9F\x98\xF0\x9F\x98\x80"),
            "a" + r + "b" + r + "c" + r + "\U0001F600");
  // Overlong forms, surrogates and values past U+10FFFF break at their second byte.
  EXPECT_EQ(text::lossy_utf8("\xC0\xAF\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80"), r4 + r4 + r4);
}

TEST(Text, JaroSimilarityComparesCodePoints) {
  struct Case { std::string_view a, b; double similarity; };
  for (const Case& c : std::initializer_list<Case>{
           {"", "", 1.0}, {"a", "", 0.0}, {"help", "help", 1.0}, {"ab", "ba", 0.0},
           {"MARTHA", "MARHTA", 17.0 / 18}, {"DIXON", "DICKSONX", 23.0 / 30},
           {"nwe", "new", 5.0 / 9}, {"nelp", "new", 13.0 / 18},
           {"caf\u00E9", "cafe", 5.0 / 6}, {"\u00E9\u00E9", "\u00E9\u00E9", 1.0}}) {
    EXPECT_DOUBLE_EQ(text::jaro_similarity(c.a, c.b), c.similarity) << c.a << " ~ " << c.b;
  }
}

}  // namespace
