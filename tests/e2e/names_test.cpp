// Names a user can type, however odd: each gives a sound result or a clear error, never a crash,
// a garbled message or a half-registered module.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::run_brintle;
using testing_support::RunOptions;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::write_file;

constexpr std::string_view kMain = "from fastapi import FastAPI\n\napp = FastAPI()\n";

/// Every entry under a root with each regular file's bytes.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    entries[relative] = entry.is_regular_file() ? read_file(entry.path()) : "<dir>";
  }
  return entries;
}

void make_project(const fs::path& root) { write_file(root / "src/main.py", std::string(kMain)); }

RunResult make_module(const fs::path& root, const std::string& feature,
                      std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"make", "module", feature, "--dir", root.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  return run_brintle(args);
}

std::string repeated(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// The UTF-8 bytes of one code point.
std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// Every character of the Unicode classes Zs, Zl and Zp, and the next-line control U+0085.
std::vector<char32_t> separators() {
  std::vector<char32_t> all = {0x00A0, 0x1680, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x0085};
  for (char32_t c = 0x2000; c <= 0x200A; ++c) all.push_back(c);
  return all;
}

TEST(FeatureNames, VeryLongNamesWorkOrFailBeforeTheRegistry) {
  struct Case {
    const char* name;
    std::string feature;
    std::string snake;
  };
  const std::string too_long = "error: File name too long (os error 36)\n";
  for (const Case& c : std::initializer_list<Case>{
           {"10,000 letters", std::string(10000, 'a'), ""},
           {"10,000 characters in words", repeated("BlogPost", 1250), ""},
           // The module directory fits, but "<name>_service.py" does not.
           {"250 letters", std::string(250, 'a'), ""},
           {"200 letters", std::string(200, 'b'), std::string(200, 'b')},
       }) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    make_project(dir.path());
    const RunResult result = make_module(dir.path(), c.feature);
    const std::string registry_file = (dir.path() / "src/modules/__init__.py").string();
    if (c.snake.empty()) {
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, too_long);
      EXPECT_EQ(result.out, "");
      // The module fails before the registry and main.py are reached.
      EXPECT_FALSE(fs::exists(registry_file));
      EXPECT_EQ(read_file(dir.path() / "src/main.py"), kMain);
      const RunResult list = run_brintle({"list", "--dir", dir.path().string()});
      EXPECT_EQ(list.status, 0);
      EXPECT_TRUE(list.out.contains("No modules registered")) << list.out;
    } else {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_TRUE(read_file(registry_file)
                      .contains(fmt::format("    \"{0}\": \"src.modules.{0}\",\n", c.snake)));
    }
    for (const auto& [path, bytes] : snapshot(dir.path())) {
      EXPECT_EQ(path.find(".brintle-"), std::string::npos) << path;
    }
  }
}

TEST(FeatureNames, ControlCharactersSeparateWordsOrAreRefusedReadably) {
  struct Case {
    const char* name;
    std::string feature;
    int status;
    std::string expected;  ///< the module directory, or the error line
  };
  for (const Case& c : std::initializer_list<Case>{
           {"tab", "blog\tpost", 0, "blog_post"},
           {"newline", "blog\npost", 0, "blog_post"},
           {"carriage return", "blog\r\npost", 0, "blog_post"},
           {"escape", "blog\x1bpost", 0, "blog_post"},
           {"delete", "blog\x7fpost", 0, "blog_post"},
           {"colour sequence", "\x1b[31mred\x1b[0m", 1,
            "error: invalid module name \"31_mred_0_m\": a Python module name cannot start with "
            "a digit\n"},
           {"only controls", "\t\n\x1b\x7f", 1,
            "error: invalid feature name \"\\t\\n\\x1b\\x7f\": it has no ASCII letter or digit\n"},
           {"bell and backspace", "\a\b", 1,
            "error: invalid feature name \"\\x07\\x08\": it has no ASCII letter or digit\n"},
       }) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    make_project(dir.path());
    const RunResult result = make_module(dir.path(), c.feature);
    EXPECT_EQ(result.status, c.status);
    if (c.status == 0) {
      EXPECT_EQ(result.err, "");
      EXPECT_TRUE(fs::is_regular_file(dir.path() / "src/modules" / c.expected / "__init__.py"));
    } else {
      EXPECT_EQ(result.err, c.expected);
      EXPECT_EQ(result.out, "");
      EXPECT_FALSE(fs::exists(dir.path() / "src/modules"));
    }
  }
}

TEST(FeatureNames, EveryUnicodeSeparatorSplitsWordsAndAloneIsRefused) {
  TempDir dir;
  make_project(dir.path());
  const auto before = snapshot(dir.path());
  const std::string first_line = "[dry-run] [dry-run] " +
                                 (dir.path() / "src/modules/blog_post/__init__.py").string() +
                                 "\n";
  for (const char32_t c : separators()) {
    SCOPED_TRACE(fmt::format("U+{:04X}", static_cast<std::uint32_t>(c)));
    const std::string sep = utf8(c);
    const RunResult split = make_module(dir.path(), sep + "blog" + sep + "post" + sep,
                                        {"--dry-run"});
    EXPECT_EQ(split.status, 0);
    EXPECT_TRUE(split.out.starts_with(first_line)) << split.out;

    const RunResult alone = make_module(dir.path(), sep);
    EXPECT_EQ(alone.status, 1);
    const std::string shown = c < 0x100 ? fmt::format("\\x{:02x}", static_cast<std::uint32_t>(c))
                                        : fmt::format("\\u{:04x}", static_cast<std::uint32_t>(c));
    EXPECT_EQ(alone.err, fmt::format("error: invalid feature name \"{}\": it has no ASCII letter "
                                     "or digit\n",
                                     shown));
  }
  EXPECT_EQ(snapshot(dir.path()), before);

  // And for real: the separators vanish from every name form.
  const RunResult made = make_module(dir.path(), "Blog" + utf8(0x3000) + "Post" + utf8(0x2028) +
                                                     "Item");
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(read_file(dir.path() / "src/modules/__init__.py")
                  .contains("    \"blog_post_item\": \"src.modules.blog_post_item\",\n"));
  EXPECT_TRUE(read_file(dir.path() / "src/modules/blog_post_item/domain/model.py")
                  .contains("class BlogPostItem("));
}

TEST(Names, BytesThatAreNotUtf8) {
  TempDir dir;
  make_project(dir.path());
  const auto before = snapshot(dir.path());
  for (const std::string feature : {"caf\xe9", "\xff", "ok\xc3", "\xed\xa0\x80"}) {
    SCOPED_TRACE(feature);
    const RunResult result = make_module(dir.path(), feature);
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(result.err.starts_with("error: invalid UTF-8 was detected\n")) << result.err;
    EXPECT_EQ(result.out, "");
    const RunResult project = run_brintle({"new", feature, "--dir", dir.path().string()});
    EXPECT_EQ(project.status, 2);
    EXPECT_TRUE(project.err.starts_with("error: invalid UTF-8 was detected\n")) << project.err;
  }
  EXPECT_EQ(snapshot(dir.path()), before);

  // A directory is a path, not text: its bytes are used as they are and shown replaced.
  const fs::path odd = dir.path() / "caf\xe9";
  make_project(odd);
  const RunResult result = make_module(odd, "user");
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string shown = (dir.path() / "caf\xEF\xBF\xBD/src/modules/user/__init__.py").string();
  EXPECT_TRUE(result.out.starts_with("[created] " + shown + "\n")) << result.out;
  EXPECT_TRUE(fs::is_regular_file(odd / "src/modules/user/__init__.py"));
}

TEST(ProjectNames, LongSpacedAndControlNames) {
  {
    SCOPED_TRACE("10,000 characters");
    TempDir dir;
    const RunResult result =
        run_brintle({"new", std::string(10000, 'p'), "--dir", dir.path().string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "error: File name too long (os error 36)\n");
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
  // A name the directory can carry gives a project in a directory of exactly that name.
  for (const std::string& name : {"my" + utf8(0x3000) + "shop", std::string("my\tshop"),
                                 "shop" + utf8(0x2028)}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const RunResult result = run_brintle({"new", name, "--dir", dir.path().string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::is_regular_file(dir.path() / name / "src/main.py"));
    EXPECT_TRUE(fs::is_regular_file(dir.path() / name / ".brintle.json"));
  }
  {
    SCOPED_TRACE("separator only");
    TempDir dir;
    const RunResult result = run_brintle({"new", utf8(0x3000), "--dir", dir.path().string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with("error: invalid project name ")) << result.err;
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}

}  // namespace
