#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const std::string kMain = "from fastapi import FastAPI\n\napp = FastAPI()\n";
const std::string kWarn = " file(s) already exist. Re-run with --force to overwrite.\n";
const std::string C = "[created]", S = "[skipped]";
const std::string D = "[dry-run] [dry-run]", DS = "[dry-run] [skipped]";

const std::vector<std::string> kFiles = {
    "__init__.py", "api/__init__.py", "api/router.py", "application/__init__.py",
    "application/schemas.py", "application/blog_post_service.py", "domain/__init__.py",
    "domain/model.py", "domain/repository.py", "infrastructure/__init__.py",
    "infrastructure/blog_post_repository.py", "tests/conftest.py", "tests/test_blog_post.py",
    "core/__init__.py", "core/config.py", "core/database.py", "modules/__init__.py", "main.py"};

// The expected report: the 13 module files, the 3 core files, the registry and main.py, each
// with the label given for its group (an empty label leaves the group out).
std::string report(const fs::path& root, std::vector<std::string> labels, std::string src = "src") {
  std::string out;
  for (std::size_t i = 0; i < kFiles.size(); ++i) {
    const std::string& label = labels[i < 13 ? 0 : i < 16 ? 1 : i - 14];
    const std::string path = (i < 13 ? "modules/blog_post/" : "") + kFiles[i];
    if (!label.empty()) out += label + " " + (root / src / path).string() + "\n";
  }
  return out;
}

// Every entry under `root` with the bytes of each regular file.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    entries[entry.path().string()] = entry.is_regular_file() ? read_file(entry.path()) : "<dir>";
  return entries;
}

// "status|stderr|stdout" of `make module --dir <root> <args>`.
std::string make(const fs::path& root, std::vector<std::string> args, bool colour = false) {
  args.insert(args.begin(), {"make", "module", "--dir", root.string()});
  RunOptions options;
  if (colour) options.env["CLICOLOR_FORCE"] = "1";
  const RunResult r = run_brintle(args, options);
  return std::to_string(r.status) + "|" + r.err + "|" + r.out;
}

// A hand-made project (src/main.py with an app line) taken through every kind of run.
TEST(MakeModule, HandMadeProjectRefusalsDryRunFreshRerunAndForce) {
  TempDir dir;
  const fs::path& root = dir.path();
  write_file(root / "src/main.py", kMain);
  const auto fresh = snapshot(root);
  for (const auto& [name, error] : std::initializer_list<std::pair<std::string, std::string>>{
           {"---", R"(invalid feature name "---": it has no ASCII letter or digit)"},
           {"2fa", R"(invalid module name "2_fa": a Python module name cannot start with a digit)"},
           {"class", R"(invalid module name "class": it is a Python keyword)"},
           {"none", R"(invalid module name "none": its class name "None" is a Python keyword)"}})
    EXPECT_EQ(make(root, {"--", name}), "1|error: " + error + "\n|");
  EXPECT_EQ(make(root, {"BlogPost", "--dry-run"}), "0||" + report(root, {D, D, D, D}));
  EXPECT_EQ(snapshot(root), fresh);

  EXPECT_EQ(make(root, {"BlogPost"}), "0||" + report(root, {C, C, C, C}));
  const auto made = snapshot(root);
  for (const auto& [path, bytes] : made)
    EXPECT_TRUE(bytes == "<dir>" || (bytes.ends_with("\n") && !bytes.ends_with("\n\n"))) << path;
  // Again: everything is skipped and counted, in a dry run too (which never skips module files).
  EXPECT_EQ(make(root, {"blog post"}), "0||" + report(root, {S, "", S, S}) + "15" + kWarn);
  EXPECT_EQ(make(root, {"BlogPost", "--dry-run"}),
            "0||" + report(root, {D, "", DS, DS}) + "2" + kWarn);
  EXPECT_TRUE(make(root, {"BlogPost"}, /*colour=*/true).ends_with(
      "\x1b[33m15 file(s) already exist. Re-run with --force to overwrite.\x1b[39m\n"));
  EXPECT_EQ(snapshot(root), made);

  write_file(root / "src/modules/blog_post/api/router.py", "# edited\n");
  fs::remove(root / "src/modules/blog_post/tests/test_blog_post.py");
  EXPECT_EQ(make(root, {"BlogPost", "--force"}), "0||" + report(root, {C, "", S, S}));
  EXPECT_EQ(snapshot(root), made);
}

TEST(MakeModule, AppSourceConfiguredOrDetected) {
  for (const bool configured : {true, false}) {
    TempDir dir;
    write_file(dir.path() / "app/main.py", kMain);
    // Configured: the configuration wins over a src/main.py that detection would take.
    if (configured) write_file(dir.path() / "src/main.py", kMain);
    if (configured) write_file(dir.path() / ".brintle.json", "{\"source_dir\": \"app\"}\n");
    EXPECT_EQ(make(dir.path(), {"BlogPost"}), "0||" + report(dir.path(), {C, C, C, C}, "app"));
    EXPECT_TRUE(read_file(dir.path() / "app/modules/blog_post/api/router.py")
                    .contains("\nfrom app.core.database import get_session\n"));
  }
}

// A configured source directory may come from a cloned project: its escape sequence shows as text.
TEST(MakeModule, ControlCharactersInTheSourceDirectoryShowEscapedInTheReport) {
  TempDir dir;
  write_file(dir.path() / ".brintle.json", "{\"source_dir\": \"s\\u001b[2J\"}\n");
  EXPECT_EQ(make(dir.path(), {"BlogPost", "--dry-run"}),
            "0||" + report(dir.path(), {D, D, D, DS}, "s\\x1b[2J") + "1" + kWarn);
}

}  // namespace
