#include "generators/project.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "generators/module.h"
#include "files/resolve.h"
#include "support/cases.h"
#include "support/process.h"

namespace {

namespace gp = generators::project;
namespace gm = generators::module;
using testing_support::outcome;

// The context's values of `keys`, in that order.
std::string values(const render::Context& context, std::initializer_list<std::string> keys) {
  std::string text;
  for (const std::string& key : keys) {
    const std::string* value = context.find(key);
    text += (text.empty() ? "" : " | ") + key + ": " + (value ? *value : "(undefined)");
  }
  return text;
}

const bool kProjectCases = testing_support::register_unit_cases(
    "project",
    {{"context",
      [](const auto& in) {
        const auto title = in.size() > 2 ? std::optional<std::string_view>(in[2]) : std::nullopt;
        return values(gp::project_context(in[0], in[1], title, "d", "0.1.0"),
                      {"source", "project_name", "title", "description", "version"});
      }},
     {"check", [](const auto& in) { return outcome(gp::check_project_name(in[0], in[1])); }}});

const bool kModuleCases = testing_support::register_unit_cases(
    "module",
    {{"context",
      [](const auto& in) {
        return values(gm::module_context(in[0], "src"),
                      {"pascal", "snake", "kebab", "plural", "source"});
      }},
     {"check", [](const auto& in) { return outcome(gm::check_feature_name(in[0])); }}});

// Title and description go through tojson into TOML and Python and raw into the README: every
// file must still parse, and each must give the values back unchanged.
TEST(Project, TrickyTitleAndDescriptionReachEachFileIntact) {
  const std::string title = "Tom's \"Shop\" <&> back\\slash Ü", description = "It's <b>\n\\ é \x01";
  testing_support::TempDir root;
  files::ProjectRoot project(root.path());
  ASSERT_TRUE(
      gp::generate_project("my-shop", project, title, description, "0.1.0", false, false)
          .has_value());
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
  const auto checked =
      testing_support::run_program({"python3", "-c", script, root.path(), title, description});
  EXPECT_EQ(checked.status, 0) << checked.err;
}

}  // namespace
