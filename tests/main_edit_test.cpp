#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/resolve.h"
#include "generators/main_py.h"
#include "support/cases.h"
#include "support/process.h"

namespace {

using generators::main_py::insert_auto_mount;

const bool kMainEditCases = testing_support::register_unit_cases(
    "main_edit", {{"edit", [](const auto& in) {
                     const auto once = insert_auto_mount(in[1], in[0]);
                     if (!once) return std::string("<no edit>");
                     return insert_auto_mount(*once, in[0]) ? "<edits its own output>" : *once;
                   }}});

TEST(SyncMain, LeavesAMissingOrUnreadableMainAlone) {
  testing_support::TempDir dir;
  const auto main_py = dir.path() / "src" / "main.py";
  files::ProjectRoot project(dir.path());
  EXPECT_EQ(generators::main_py::sync_main(project, "src", false),
            (writers::GeneratedFile{main_py, "", writers::WriteStatus::Skipped}));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "src"));
  testing_support::write_file(main_py, "app = FastAPI()\n\xFF\n");
  EXPECT_EQ(generators::main_py::sync_main(project, "src", true).error().joined(),
            "stream did not contain valid UTF-8");
}

}  // namespace
