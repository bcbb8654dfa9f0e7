#include "naming/naming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace {

// Texts that all give the same words (shown joined by blanks), snake form and title form.
// The kebab form is the snake form with hyphens, the Pascal form the title form without blanks.
struct Forms { std::vector<std::string_view> texts; std::string_view words, snake, title; };

const std::vector<Forms> kForms = {
    {{"user"}, "user", "user", "User"}, {{"USER"}, "USER", "user", "User"},
    {{"userProfile"}, "user Profile", "user_profile", "User Profile"},
    {{"UserProfile"}, "User Profile", "user_profile", "User Profile"},
    {{"user_profile", "user-profile", "user profile"}, "user profile", "user_profile",
     "User Profile"},
    {{"JSONParser"}, "JSON Parser", "json_parser", "Json Parser"}, {{"A"}, "A", "a", "A"},
    {{"SQLQuery"}, "SQL Query", "sql_query", "Sql Query"}, {{"a"}, "a", "a", "A"},
    {{"parseXMLDocument"}, "parse XML Document", "parse_xml_document", "Parse Xml Document"},
    {{"getURLs"}, "get UR Ls", "get_ur_ls", "Get Ur Ls"}, {{"iOS"}, "i OS", "i_os", "I Os"},
    {{"ABCdef"}, "AB Cdef", "ab_cdef", "Ab Cdef"}, {{"ABC"}, "ABC", "abc", "Abc"},
    {{"OAuth2Token"}, "O Auth 2 Token", "o_auth_2_token", "O Auth 2 Token"},
    {{"SHA256Digest"}, "SHA 256 Digest", "sha_256_digest", "Sha 256 Digest"},
    {{"user2fa"}, "user 2 fa", "user_2_fa", "User 2 Fa"}, {{"2fa"}, "2 fa", "2_fa", "2 Fa"},
    {{"release1.2"}, "release 1 2", "release_1_2", "Release 1 2"},
    {{"order.items", "order/items"}, "order items", "order_items", "Order Items"},
    {{"user's"}, "user s", "user_s", "User S"}, {{"", "   ", "-_-", "\u00E9\u4E2D"}, "", "", ""},
    {{"  --blog__post--  ", "blog\tpost", "blog\u00A0post", "\u0085blog\u2028post\u3000"}, "blog post", "blog_post",
     "Blog Post"},
    {{"caf\u00E9"}, "caf", "caf", "Caf"}, {{"na\u00EFve"}, "na ve", "na_ve", "Na Ve"},
    {{"\u00DCber"}, "ber", "ber", "Ber"},
};

TEST(Naming, EverySpellingOfANameGivesTheSameForms) {
  for (const Forms& row : kForms) {
    std::string kebab(row.snake), pascal(row.title);
    std::ranges::replace(kebab, '_', '-');
    std::erase(pascal, ' ');
    for (std::string_view text : row.texts) {
      std::string words;
      for (const std::string& w : naming::split_words(text)) words += words.empty() ? w : " " + w;
      EXPECT_EQ(words, row.words) << text;
      EXPECT_EQ(naming::to_snake(text), row.snake) << text;
      EXPECT_EQ(naming::to_kebab(text), kebab) << text;
      EXPECT_EQ(naming::to_title(text), row.title) << text;
      EXPECT_EQ(naming::to_pascal(text), pascal) << text;
    }
  }
}

TEST(Naming, PluralLooksAtTheEndOfTheWholeTextCaseSensitively) {
  for (const auto& [singular, plural] : std::vector<std::pair<std::string_view, std::string_view>>{
           {"", "s"}, {"bus", "buses"}, {"box", "boxes"}, {"quiz", "quizes"}, {"s", "ses"},
           {"status", "statuses"}, {"church", "churches"}, {"dish", "dishes"}, {"day", "days"},
           {"epoch", "epoches"}, {"city", "cities"}, {"category", "categories"}, {"y", "ys"},
           {"user_policy", "user_policies"}, {"dAy", "dAies"}, {"2y", "2ies"}, {"key", "keys"},
           {"\u00E9y", "\u00E9ies"}, {"Day", "Days"}, {"f", "ves"}, {"leaf", "leaves"},
           {"roof", "rooves"}, {"chef", "cheves"}, {"knife", "knives"}, {"cafe", "caves"},
           {"fe", "ves"}, {"user", "users"}, {"user_profile", "user_profiles"}, {"BOX", "BOXs"},
           {"user_2_fa", "user_2_fas"}, {"hero", "heros"}, {"child", "childs"}, {"CITY", "CITYs"},
           {"caf\u00E9", "caf\u00E9s"}}) {
    EXPECT_EQ(naming::to_plural(singular), plural) << singular;
  }
}

}  // namespace
