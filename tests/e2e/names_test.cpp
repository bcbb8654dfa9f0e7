// Names a user can type, however odd: each gives a sound result or a clear error, never a crash,
// a garbled message or a half-registered module.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

TEST(Names, OddNamesGiveAProjectOrAClearErrorAndChangeNothing) {
  const std::string no_letter = "\": it has no ASCII letter or digit\n", module = "src/modules/";
  const std::string utf8_error = "error: invalid UTF-8 was detected in one or more arguments\n";
  struct Case {
    std::string command, name;
    int status;
    std::string expected;  ///< the file made (below --dir), or how the error output begins
  };
  std::vector<Case> cases{
      {"module", std::string(250, 'a'), 1,
       "error: invalid module name \"" + std::string(250, 'a') +
           "\": its longest file name would be 264 bytes, more than the file system allows "
           "(255)\n"},
      {"new", std::string(10000, 'p'), 1, "error: File name too long (os error 36)\n"},
      {"module", "blog\tpost", 0, module + "blog_post/__init__.py"},
      {"module", "blog\r\n\x1b\x7fpost", 0, module + "blog_post/__init__.py"},
      {"module", "\t\n\x1b\x7f", 1, "error: invalid feature name \"\\t\\n\\x1b\\x7f" + no_letter},
      {"new", "my\tshop", 0, "my\tshop/src/main.py"},
      {"new", "\a\b", 1, "error: invalid project name \"\\x07\\x08" + no_letter},
      {"module", "caf\xe9", 2, utf8_error},
      {"new", "\xff", 2, utf8_error},
      {"module", "\u0085", 1, "error: invalid feature name \"\\x85" + no_letter},
      {"module", "\u3000", 1, "error: invalid feature name \"\\u3000" + no_letter},
      {"new", "\u2029", 1, "error: invalid project name \"\\u2029" + no_letter},
      {"new", "my\u2028shop", 0, "my\u2028shop/src/main.py"}};
  // Every character of the classes Zs (but the ASCII space), Zl and Zp, and U+0085 separate words.
  for (const std::string s : {"\u0085", "\u00a0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003",
                              "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200a",
                              "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"}) {
    cases.push_back({"module", s + "blog" + s + "post" + s, 0, module + "blog_post/__init__.py"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name.substr(0, 20)) + " to " + c.command);
    const testing_support::TempDir temp;
    // A directory is a path, not text: bytes that are not UTF-8 are fine there.
    const auto root = temp.path() / "caf\xe9";
    testing_support::write_file(root / "src/main.py", "app = FastAPI()\n");
    const auto before = testing_support::snapshot(temp.path());
    const auto result = testing_support::run_brintle(
        c.command == "new" ? std::vector<std::string>{"new", c.name, "--dir", root}
                           : std::vector<std::string>{"make", "module", c.name, "--dir", root});
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_TRUE(c.status == 0 ? std::filesystem::is_regular_file(root / c.expected)
                              : result.err.starts_with(c.expected) && result.out.empty())
        << result.out << result.err;
    EXPECT_TRUE(c.status == 0 || testing_support::snapshot(temp.path()) == before);
  }
}
