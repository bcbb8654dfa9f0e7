#include "layout/layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/cases.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir, testing_support::write_file;

const bool kLayoutCases = testing_support::register_unit_cases(
"layout", {{"registry", [](const auto& in) {
                                                TempDir dir;
                                                write_file(dir.path() / ".brintle.json", in[0]);
                                                write_file(dir.path() / "src" / "main.py", "");
                                                return layout::registry_path(dir.path(),
                                                                             std::nullopt)
                                                    .lexically_relative(dir.path())
                                                    .string();
                                              }}});

TEST(Layout, DetectionLooksForSrcMainPyOfAnyKindThroughLinks) {
  TempDir dir;
  fs::create_directories(dir.path() / ".brintle.json");  // unreadable: counts as absent
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
  fs::create_directories(dir.path() / "src");
  fs::create_symlink(dir.path() / "target", dir.path() / "src" / "main.py");
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");  // the link dangles
  fs::create_directories(dir.path() / "target");
  EXPECT_EQ(layout::source_dir_name(dir.path()), "src");
  EXPECT_EQ(layout::registry_path(dir.path(), "given"), dir.path() / "given/modules/__init__.py");
}

TEST(Layout, AConfigurationFarLargerThanAnyRealOneCountsAsAbsent) {
  TempDir dir;
  const std::string config = R"({"source_dir": "lib"})";
  write_file(dir.path() / ".brintle.json", config + std::string(1024 * 1024 - config.size(), ' '));
  EXPECT_EQ(layout::source_dir_name(dir.path()), "lib");  // 1 MiB is still read
  write_file(dir.path() / ".brintle.json", config + std::string(1024 * 1024, ' '));
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
  fs::resize_file(dir.path() / ".brintle.json", std::uintmax_t{50} << 30);  // sparse, not read
  EXPECT_EQ(layout::source_dir_name(dir.path()), "app");
}

}  // namespace
