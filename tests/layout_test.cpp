#include "layout/layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;
using namespace std::string_literals;

// Each configuration file and the source directory it gives in a project that has src/main.py:
// "src" means that the file counts as absent and the detection decides.
TEST(Layout, SourceDirectoryIsConfiguredOnlyByOneObjectWithAUsableName) {
  for (const auto& [content, name] : std::vector<std::pair<std::string, std::string>>{
           {R"({"x": [null], "source_dir": "lib"})", "lib"}, {R"({"source_dir": "app"})", "app"},
           {" \t\r\n{\"source_dir\": \"lib\"}\n\n  \r\n", "lib"},
           {R"({"source_dir": "first", "source_dir": "second"})", "second"},
           {R"({"source_dir": " "})", " "}, {R"({"source_dir": "lib/app"})", "lib/app"},
           {R"({"source_dir": "my..app"})", "my..app"}, {R"({"source_dir": ""})", "src"},
           {R"({"source_dir": null})", "src"}, {R"({"source_dir": 5})", "src"},
           {R"({"source_dir": {"x": "lib"}})", "src"}, {R"({"source": "lib"})", "src"},
           {R"({"source_dir": "/tmp/elsewhere"})", "src"}, {R"({"source_dir": ".."})", "src"},
           {R"({"source_dir": "lib/../../x"})", "src"}, {R"({"source_dir": "..\u0000x"})", "src"},
           {R"([{"source_dir": "lib"}])", "src"},
           {R"("lib")", "src"}, {"", "src"}, {R"({"source_dir": "lib")", "src"},
           {"\xEF\xBB\xBF{\"source_dir\": \"lib\"}", "src"},
           {R"({"source_dir": "lib"} x)", "src"}, {"{\"source_dir\": \"lib\"}\u00A0", "src"},
           {"{\"source_dir\": \"lib\"}\0 {"s, "src"}, {"{\"source_dir\": \"lib\"}\0"s, "src"},
           {"{\"x\": \"\xFF\", \"source_dir\": \"lib\"}", "src"}}) {
    TempDir dir;
    write_file(dir.path() / ".brintle.json", content);
    write_file(dir.path() / "src" / "main.py", "");
    EXPECT_EQ(layout::source_dir_name(dir.path()), name) << content;
    EXPECT_EQ(layout::registry_path(dir.path(), std::nullopt),
              dir.path() / name / "modules" / "__init__.py");
    EXPECT_EQ(layout::registry_path(dir.path(), "given"), dir.path() / "given/modules/__init__.py");
  }
}

TEST(Layout, DetectionLooksForSrcMainPyOfAnyKindThroughLinks) {
  TempDir dir;
  fs::create_directories(dir.path() / ".brintle.json");  // unreadable: counts as absent
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
  fs::create_directories(dir.path() / "src");
  fs::create_symlink(dir.path() / "target", dir.path() / "src" / "main.py");
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");  // the link dangles
  fs::create_directories(dir.path() / "target");
  EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
}

TEST(Layout, WriteConfigReplacesTheFileAndADryRunCreatesNothing) {
  const std::string expected = "{\n  \"source_dir\": \"src\"\n}\n";  // 26 bytes
  TempDir dir;
  const fs::path config = dir.path() / ".brintle.json";
  write_file(config, R"({"source_dir": "app", "other": 1})");
  const auto written = layout::write_config(dir.path(), {{"source_dir", "src"}}, false);
  ASSERT_TRUE(written.has_value()) << written.error().joined();
  EXPECT_EQ(*written, (writers::GeneratedFile{config, expected, writers::WriteStatus::Created}));
  EXPECT_EQ(read_file(config), expected);

  const fs::path root = dir.path() / "new";
  const auto dry = layout::write_config(root, {{"source_dir", "src"}}, true);
  ASSERT_TRUE(dry.has_value()) << dry.error().joined();
  EXPECT_EQ(*dry, (writers::GeneratedFile{root / ".brintle.json", expected,
                                          writers::WriteStatus::DryRun}));
  EXPECT_FALSE(fs::exists(root));
}

}  // namespace
