#include "generators/project.h"

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
namespace gp = generators::project;
using namespace testing_support;

TEST(ProjectContext, NameFormsTitleAndTheInPlaceName) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  for (const auto& [name, root, title, snake, shown] : std::initializer_list<std::tuple<
           std::string_view, fs::path, std::optional<std::string_view>, std::string, std::string>>{
           {"my-shop", "/w/my-shop", std::nullopt, "my_shop", "My Shop"},
           {"ShopAPI", "/w/ShopAPI", std::nullopt, "shop_api", "Shop Api"},
           {"ShopAPI", "/w/ShopAPI", "", "shop_api", ""},
           // "." takes its forms from the last component of the base directory, "./" does not.
           {".", "/home/u/my-shop/", std::nullopt, "my_shop", "My Shop"},
           {".", "/home/u/blogAPI/sub/..", "Given", "blog_api", "Given"},
           {"./", "/home/u/shop/./", std::nullopt, "", ""}}) {
    EXPECT_EQ(gp::project_context(name, root, title, "d", "0.1.0").pairs(),
              (Pairs{{"source", "src"}, {"project_name", snake}, {"title", shown},
                     {"description", "d"}, {"version", "0.1.0"}})) << name << " in " << root;
  }
}

TEST(ProjectName, RefusesANameWithoutLetterOrDigit) {
  const std::tuple<std::string_view, fs::path, std::string_view> cases[] = {
      {"my-shop", "/w/my-shop", ""}, {"2", "/w/2", ""}, {".", "/w/shop", ""},
      {"---", "/w/---", R"(invalid project name "---": it has no ASCII letter or digit)"},
      {"", "/w/", R"(invalid project name "": it has no ASCII letter or digit)"},
      {"\t\x1b\n", "/w/x", R"(invalid project name "\t\x1b\n": it has no ASCII letter or digit)"},
      {".", "/w/___",
       R"(invalid project name ".": the directory name "___" has no ASCII letter or digit)"}};
  for (const auto& [name, root, error] : cases) {
    const error::Result<void> checked = gp::check_project_name(name, root);
    EXPECT_EQ(checked ? "" : checked.error().joined(), error) << name << " in " << root;
  }
}

// Title and description go through tojson into TOML and Python and raw into the README: every
// file must still parse, and each must give the values back unchanged.
TEST(GenerateProject, TrickyTitleAndDescriptionReachEachFileIntact) {
  const std::string title = "Tom's \"Shop\" <&> back\\slash Ü", description = "It's <b>\n\\ é \x01";
  TempDir root;
  ASSERT_TRUE(gp::generate_project("my-shop", root.path(), title, description, "0.1.0", false,
                                   false).has_value());
  EXPECT_TRUE(read_file(root.path() / "src/main.py")
                  .contains(R"(title="Tom\u0027s \"Shop\" \u003c\u0026\u003e back\\slash Ü", )"));
  const std::string script = R"(
import ast, pathlib, sys, tomllib
root, title, description = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3]
assert len([ast.parse(p.read_text("utf-8"), str(p)) for p in root.rglob("*.py")]) == 11
assert (root / "README.md").read_text("utf-8").startswith(f"# {title}\n\n{description}\n")
project = tomllib.loads((root / "pyproject.toml").read_text("utf-8"))["project"]
assert (project["name"], project["description"]) == ("my_shop", description), project
main = (root / "src" / "main.py").read_text("utf-8").splitlines()
app = ast.parse(next(line for line in main if line.startswith("app = "))).body[0].value
assert [k.value.value for k in app.keywords[:2]] == [title, "0.1.0"], ast.dump(app)
)";
  const auto checked = run_program({"python3", "-c", script, root.path(), title, description});
  EXPECT_EQ(checked.status, 0) << checked.err;
}

}  // namespace
