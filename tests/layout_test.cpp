#include "layout/layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

struct ConfigCase {
  std::string_view label;
  std::string content;
  bool object;                            // whether the file reads as a configuration
  std::optional<std::string> configured;  // none: the detection decides
};

TEST(Layout, ConfigurationDecidesOnlyWhenItIsOneObjectWithANonEmptyName) {
  for (const ConfigCase& c : std::initializer_list<ConfigCase>{
           {"plain", R"({"source_dir": "lib"})", true, "lib"},
           {"other keys too", R"({"name": 1, "source_dir": "lib", "x": [null]})", true, "lib"},
           {"white space around", " \t\r\n{\"source_dir\":\"lib\"}\n\n  \t\r\n", true, "lib"},
           {"same key twice", R"({"source_dir": "first", "source_dir": "second"})", true, "second"},
           {"a single blank", R"({"source_dir": " "})", true, " "},
           {"non-ASCII", "{\"source_dir\": \"caf\u00E9\"}", true, "caf\u00E9"},
           {"escaped", R"({"source_dir": "a\u0062c"})", true, "abc"},
           {"empty name", R"({"source_dir": ""})", true, std::nullopt},
           {"nested", R"({"source_dir": "lib/app"})", true, "lib/app"},
           {"dots inside a name", R"({"source_dir": "my..app"})", true, "my..app"},
           {"absolute", R"({"source_dir": "/tmp/elsewhere"})", true, std::nullopt},
           {"parent", R"({"source_dir": ".."})", true, std::nullopt},
           {"climbs out", R"({"source_dir": "../other/src"})", true, std::nullopt},
           {"climbs out later", R"({"source_dir": "src/../../x"})", true, std::nullopt},
           {"null", R"({"source_dir": null})", true, std::nullopt},
           {"number", R"({"source_dir": 5})", true, std::nullopt},
           {"object", R"({"source_dir": {"x": "lib"}})", true, std::nullopt},
           {"array value", R"({"source_dir": ["lib"]})", true, std::nullopt},
           {"no such key", R"({"source": "lib"})", true, std::nullopt},
           {"empty object", "{}", true, std::nullopt},
           {"top-level array", R"([{"source_dir": "lib"}])", false, std::nullopt},
           {"bare string", R"("lib")", false, std::nullopt},
           {"null document", "null", false, std::nullopt},
           {"empty file", "", false, std::nullopt},
           {"only white space", " \n", false, std::nullopt},
           {"truncated", R"({"source_dir": "lib")", false, std::nullopt},
           {"byte-order mark", "\xEF\xBB\xBF{\"source_dir\": \"lib\"}", false, std::nullopt},
           {"trailing text", R"({"source_dir": "lib"} x)", false, std::nullopt},
           {"second value", R"({"source_dir": "lib"}{})", false, std::nullopt},
           {"trailing form feed", "{\"source_dir\": \"lib\"}\f", false, std::nullopt},
           {"trailing no-break space", "{\"source_dir\": \"lib\"}\u00A0", false, std::nullopt},
           {"comment", "// project\n{\"source_dir\": \"lib\"}", false, std::nullopt},
           {"trailing comma", R"({"source_dir": "lib",})", false, std::nullopt},
           {"invalid UTF-8 in a string", "{\"x\": \"\xFF\", \"source_dir\": \"lib\"}", false,
            std::nullopt},
           {"invalid UTF-8 after the object", "{\"source_dir\": \"lib\"}\n\xC3", false,
            std::nullopt},
           {"lone surrogate", R"({"source_dir": "\ud800"})", false, std::nullopt},
       }) {
    SCOPED_TRACE(c.label);
    for (bool has_main : {false, true}) {
      TempDir dir;
      write_file(dir.path() / ".brintle.json", c.content);
      if (has_main) write_file(dir.path() / "src" / "main.py", "");
      const std::string detected = has_main ? "src" : "app";
      EXPECT_EQ(layout::source_dir_name(dir.path()), c.configured.value_or(detected));
      EXPECT_EQ(layout::read_config(dir.path()).has_value(), c.object);
    }
  }
}

TEST(Layout, ReadConfigKeepsTheWholeObject) {
  TempDir dir;
  write_file(dir.path() / ".brintle.json", R"({"b": [1, 2], "a": {"c": true}})");
  const std::optional<nlohmann::json> config = layout::read_config(dir.path());
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(*config, nlohmann::json::parse(R"({"a": {"c": true}, "b": [1, 2]})"));
  EXPECT_EQ(layout::read_config(dir.path() / "missing"), std::nullopt);
}

TEST(Layout, DetectionWithoutConfiguration) {
  {
    TempDir dir;
    EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
    write_file(dir.path() / "src" / "other.py", "");
    EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
    write_file(dir.path() / "src" / "main.py", "");
    EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
  }
  {
    TempDir dir;  // any kind of entry counts
    fs::create_directories(dir.path() / "src" / "main.py");
    EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
  }
  {
    TempDir dir;  // a link counts by its target
    fs::create_directories(dir.path() / "src");
    fs::create_symlink(dir.path() / "nowhere.py", dir.path() / "src" / "main.py");
    EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
    write_file(dir.path() / "nowhere.py", "");
    EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
  }
  {
    TempDir dir;  // a configuration file that is a directory reads as absent
    fs::create_directories(dir.path() / ".brintle.json");
    write_file(dir.path() / "src" / "main.py", "");
    EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
    EXPECT_EQ(layout::read_config(dir.path()), std::nullopt);
  }
}

TEST(Layout, ConfiguredNameWinsOverDetection) {
  TempDir dir;
  write_file(dir.path() / ".brintle.json", R"({"source_dir": "app"})");
  write_file(dir.path() / "src" / "main.py", "");
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
  EXPECT_EQ(layout::registry_path(dir.path(), std::nullopt),
            dir.path() / "app" / "modules" / "__init__.py");
}

TEST(Layout, RegistryPathWithAGivenNameIgnoresConfigurationAndDetection) {
  TempDir dir;
  write_file(dir.path() / ".brintle.json", R"({"source_dir": "app"})");
  EXPECT_EQ(layout::registry_path(dir.path(), "lib"),
            dir.path() / "lib" / "modules" / "__init__.py");
  EXPECT_EQ(layout::registry_path("proj", "pkg/inner").string(),
            "proj/pkg/inner/modules/__init__.py");
  EXPECT_EQ(layout::registry_path("proj", "/abs").string(), "/abs/modules/__init__.py");
  EXPECT_EQ(layout::registry_path("./", "src").string(), "./src/modules/__init__.py");
}

constexpr std::string_view kNewProjectConfig = "{\n  \"source_dir\": \"src\"\n}\n";

TEST(Layout, WriteConfigReplacesAnyExistingFile) {
  static_assert(kNewProjectConfig.size() == 26);
  TempDir dir;
  const fs::path config = dir.path() / ".brintle.json";
  write_file(config, R"({"source_dir": "app", "other": 1})");
  const auto written = layout::write_config(dir.path(), {{"source_dir", "src"}}, false);
  ASSERT_TRUE(written.has_value()) << written.error().joined();
  EXPECT_EQ(written->path, config);
  EXPECT_EQ(written->status, WriteStatus::Created);
  EXPECT_EQ(written->content, kNewProjectConfig);
  EXPECT_EQ(read_file(config), kNewProjectConfig);
  EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
}

TEST(Layout, WriteConfigInADryRunTouchesNothing) {
  TempDir dir;
  const fs::path root = dir.path() / "new-project";
  const auto written = layout::write_config(root, {{"source_dir", "src"}}, true);
  ASSERT_TRUE(written.has_value()) << written.error().joined();
  EXPECT_EQ(written->status, WriteStatus::DryRun);
  EXPECT_EQ(written->path, root / ".brintle.json");
  EXPECT_EQ(written->content, kNewProjectConfig);
  EXPECT_FALSE(fs::exists(root));
}

TEST(Layout, WriteConfigLayout) {
  TempDir dir;
  const nlohmann::json config = {{"b", nlohmann::json::array({1, "x"})},
                                 {"a", nlohmann::json::object()},
                                 {"Z", nlohmann::json::array()},
                                 {"c", {{"q\"\\\x01\n", "caf\u00E9"}}}};
  const auto written = layout::write_config(dir.path(), config, false);
  ASSERT_TRUE(written.has_value()) << written.error().joined();
  EXPECT_EQ(read_file(dir.path() / ".brintle.json"),
            "{\n"
            "  \"Z\": [],\n"
            "  \"a\": {},\n"
            "  \"b\": [\n"
            "    1,\n"
            "    \"x\"\n"
            "  ],\n"
            "  \"c\": {\n"
            "    \"q\\\"\\\\\\u0001\\n\": \"caf\u00E9\"\n"
            "  }\n"
            "}\n");
}

TEST(Layout, WriteConfigReportsTheWriteError) {
  TempDir dir;
  write_file(dir.path() / "file", "");
  const auto written = layout::write_config(dir.path() / "file", {{"source_dir", "src"}}, false);
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error().joined(), "Not a directory (os error 20)");

  // A value that cannot be serialised is an error too, and nothing is written.
  const auto unserialisable = layout::write_config(dir.path(), {{"source_dir", "\xFF"}}, false);
  ASSERT_FALSE(unserialisable.has_value());
  EXPECT_FALSE(fs::exists(dir.path() / ".brintle.json"));
}

}  // namespace
