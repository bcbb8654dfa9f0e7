#include "render/render.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "files/resolve.h"
#include "support/cases.h"
#include "support/process.h"
#include "templates/templates.h"

namespace {

using testing_support::outcome;

render::Context case_context() {
  render::Context context;
  context.put("source", "app").put("snake", "abc").put("title", "<>&'\"\\\x01\x7f\n\té 日本");
  return context;
}

const bool kRenderCases = testing_support::register_unit_cases(
    "render",
    {{"render", [](const auto& in) { return outcome(render::render_str(in[0], case_context())); }},
     {"template",
      [](const auto& in) { return outcome(render::render_template(in[0], in[1], {})); }},
     {"unsuffixed",
      [](const auto& in) { return std::string(render::strip_template_suffix(in[0])); }}});

TEST(Render, ContextPutKeepsTheLastValue) {
  render::Context context;
  context.put("source", "src").put("snake", "a").put("source", "app");
  EXPECT_EQ(*context.find("source"), "app");
  EXPECT_EQ(*context.find("snake"), "a");
  EXPECT_EQ(context.find("title"), nullptr);
}

TEST(Render, TemplatesOfEachGroup) {
  std::map<std::string_view, int> count;
  for (const templates::TemplateFile& t : templates::kTemplates) ++count[t.group];
  EXPECT_EQ(count, (std::map<std::string_view, int>{
                       {"alembic", 4}, {"core", 2}, {"module", 13}, {"project", 11}}));
  // A template without expressions passes through whole, less its final line feed.
  const templates::TemplateFile& mako = templates::kTemplates[2];
  EXPECT_EQ(outcome(render::render_template("alembic", mako.path, {})) + "\n", mako.content);
}

TEST(Render, TreeStopsAtTheFirstFailureAndKeepsEarlierFiles) {
  testing_support::TempDir dir;
  render::Context context;
  context.put("source", "app").put("pascal", "Abc").put("kebab", "abc").put("plural", "abcs");
  files::ProjectRoot project(dir.path());
  const auto files = render::render_tree(project, "module", context, dir.path(), false, false);
  EXPECT_EQ(files.error().joined(),
            "failed to render template module/api/router.py.j2: undefined value 'snake' (line 10)");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "api/__init__.py"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "api/router.py"));
}

}  // namespace
