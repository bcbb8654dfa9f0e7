#include "naming/naming.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Words = std::vector<std::string>;

struct FormsCase {
  std::string_view in;
  Words words;
  std::string_view snake, kebab, pascal, title;
};

TEST(Naming, FormsOfOneName) {
  for (const FormsCase& c : std::initializer_list<FormsCase>{
           {"user", {"user"}, "user", "user", "User", "User"},
           {"USER", {"USER"}, "user", "user", "User", "User"},
           {"userProfile", {"user", "Profile"}, "user_profile", "user-profile", "UserProfile",
            "User Profile"},
           {"UserProfile", {"User", "Profile"}, "user_profile", "user-profile", "UserProfile",
            "User Profile"},
           {"user_profile", {"user", "profile"}, "user_profile", "user-profile", "UserProfile",
            "User Profile"},
           {"user-profile", {"user", "profile"}, "user_profile", "user-profile", "UserProfile",
            "User Profile"},
           {"user profile", {"user", "profile"}, "user_profile", "user-profile", "UserProfile",
            "User Profile"},
           {"JSONParser", {"JSON", "Parser"}, "json_parser", "json-parser", "JsonParser",
            "Json Parser"},
           {"SQLQuery", {"SQL", "Query"}, "sql_query", "sql-query", "SqlQuery", "Sql Query"},
           {"parseXMLDocument", {"parse", "XML", "Document"}, "parse_xml_document",
            "parse-xml-document", "ParseXmlDocument", "Parse Xml Document"},
           {"getURLs", {"get", "UR", "Ls"}, "get_ur_ls", "get-ur-ls", "GetUrLs", "Get Ur Ls"},
           {"ABCdef", {"AB", "Cdef"}, "ab_cdef", "ab-cdef", "AbCdef", "Ab Cdef"},
           {"ABC", {"ABC"}, "abc", "abc", "Abc", "Abc"},
           {"iOS", {"i", "OS"}, "i_os", "i-os", "IOs", "I Os"},
           {"OAuth2Token", {"O", "Auth", "2", "Token"}, "o_auth_2_token", "o-auth-2-token",
            "OAuth2Token", "O Auth 2 Token"},
           {"SHA256Digest", {"SHA", "256", "Digest"}, "sha_256_digest", "sha-256-digest",
            "Sha256Digest", "Sha 256 Digest"},
           {"user2fa", {"user", "2", "fa"}, "user_2_fa", "user-2-fa", "User2Fa", "User 2 Fa"},
           {"2fa", {"2", "fa"}, "2_fa", "2-fa", "2Fa", "2 Fa"},
           {"release1.2", {"release", "1", "2"}, "release_1_2", "release-1-2", "Release12",
            "Release 1 2"},
           {"order.items", {"order", "items"}, "order_items", "order-items", "OrderItems",
            "Order Items"},
           {"user's", {"user", "s"}, "user_s", "user-s", "UserS", "User S"},
           {"  --blog__post--  ", {"blog", "post"}, "blog_post", "blog-post", "BlogPost",
            "Blog Post"},
           {"blog\tpost", {"blog", "post"}, "blog_post", "blog-post", "BlogPost", "Blog Post"},
           {"blog\u00A0post", {"blog", "post"}, "blog_post", "blog-post", "BlogPost",
            "Blog Post"},
           {"blog\u3000post", {"blog", "post"}, "blog_post", "blog-post", "BlogPost",
            "Blog Post"},
           {"caf\u00E9", {"caf"}, "caf", "caf", "Caf", "Caf"},
           {"na\u00EFve", {"na", "ve"}, "na_ve", "na-ve", "NaVe", "Na Ve"},
           {"\u00DCber", {"ber"}, "ber", "ber", "Ber", "Ber"},
           {"A", {"A"}, "a", "a", "A", "A"},
           {"a", {"a"}, "a", "a", "A", "A"},
           {"", {}, "", "", "", ""},
           {"   ", {}, "", "", "", ""},
           {"-_-", {}, "", "", "", ""},
           {"\u00E9\u00EF\u4E2D", {}, "", "", "", ""},
       }) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(naming::split_words(c.in), c.words);
    EXPECT_EQ(naming::to_snake(c.in), c.snake);
    EXPECT_EQ(naming::to_kebab(c.in), c.kebab);
    EXPECT_EQ(naming::to_pascal(c.in), c.pascal);
    EXPECT_EQ(naming::to_title(c.in), c.title);
  }
}

TEST(Naming, SeparatorsAndDroppedCharactersSplitAlike) {
  const std::string expected = "order_items";
  for (std::string_view in : {"order.items", "order_items", "order-items", "order items",
                              "order\u2028items", "order\u0085items", "order/items"}) {
    SCOPED_TRACE(in);
    EXPECT_EQ(naming::to_snake(in), expected);
  }
}

TEST(Naming, CapitalizeAndLowercaseJoin) {
  struct Case { std::string_view word, capitalized; };
  for (const Case& c : std::initializer_list<Case>{
           {"", ""}, {"user", "User"}, {"USER", "User"}, {"2", "2"}, {"uSeR9", "User9"},
           {"\u00E9T\u00C9", "\u00C9t\u00E9"}}) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(naming::capitalize(c.word), c.capitalized);
  }
  EXPECT_EQ(naming::join_lowercase({}, '_'), "");
  EXPECT_EQ(naming::join_lowercase({"JSON"}, '-'), "json");
  EXPECT_EQ(naming::join_lowercase({"Parse", "XML", "2"}, '_'), "parse_xml_2");
}

TEST(Naming, Plurals) {
  struct Case { std::string_view singular, plural; };
  for (const Case& c : std::initializer_list<Case>{
           {"", "s"},
           {"bus", "buses"},
           {"box", "boxes"},
           {"quiz", "quizes"},
           {"status", "statuses"},
           {"s", "ses"},
           {"x", "xes"},
           {"z", "zes"},
           {"church", "churches"},
           {"dish", "dishes"},
           {"epoch", "epoches"},
           {"city", "cities"},
           {"category", "categories"},
           {"user_policy", "user_policies"},
           {"dAy", "dAies"},
           {"2y", "2ies"},
           {"_y", "_ies"},
           {"\u00E9y", "\u00E9ies"},
           {"day", "days"},
           {"Day", "Days"},
           {"key", "keys"},
           {"y", "ys"},
           {"leaf", "leaves"},
           {"roof", "rooves"},
           {"chef", "cheves"},
           {"f", "ves"},
           {"knife", "knives"},
           {"cafe", "caves"},
           {"fe", "ves"},
           {"user", "users"},
           {"user_profile", "user_profiles"},
           {"user_2_fa", "user_2_fas"},
           {"hero", "heros"},
           {"child", "childs"},
           {"BOX", "BOXs"},
           {"CITY", "CITYs"},
           {"CH", "CHs"},
           {"LEAF", "LEAFs"},
           {"caf\u00E9", "caf\u00E9s"},
       }) {
    SCOPED_TRACE(c.singular);
    EXPECT_EQ(naming::to_plural(c.singular), c.plural);
  }
}

}  // namespace
