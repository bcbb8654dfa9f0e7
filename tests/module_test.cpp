#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "generators/module.h"
#include "support/process.h"

namespace {

namespace gm = generators::module;
using Pairs = std::initializer_list<std::pair<std::string_view, std::string_view>>;

TEST(ModuleContext, BlogPostFormsWhateverTheSpelling) {
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"pascal", "BlogPost"}, {"snake", "blog_post"}, {"kebab", "blog-post"},
      {"plural", "blog_posts"}, {"source", "src"}};
  for (std::string_view feature : {"BlogPost", "blog post", "blog-post", "blog_post"}) {
    EXPECT_EQ(gm::module_context(feature, "src").pairs(), expected) << feature;
  }
}

TEST(GenerateModule, GeneratedFilesParseAsPython) {
  testing_support::TempDir project;
  std::vector<std::string> argv = {"python3", "-c",
                                   "import ast, sys\nfor name in sys.argv[1:]:\n"
                                   "    ast.parse(open(name, encoding='utf-8').read(), name)\n"};
  for (const auto& [feature, source] :
       Pairs{{"BlogPost", "src"}, {"user", "app"}, {"match", "src"}}) {
    const auto files = gm::generate_module(feature, project.path(), source, false, false);
    ASSERT_TRUE(files) << files.error().joined();
    for (const writers::GeneratedFile& file : *files) argv.push_back(file.path.string());
  }
  ASSERT_EQ(argv.size(), 3u + 3 * 13);
  const auto result = testing_support::run_program(argv);
  EXPECT_EQ(result.status, 0) << result.err;
}

// The plural names the routes, the braces of the item route survive rendering,
// and the kebab form stays inside the service's docstrings.
TEST(GenerateModule, EachFormLandsWhereItBelongs) {
  testing_support::TempDir project;
  const auto files = gm::generate_module("BlogPost", project.path(), "src", false, true);
  ASSERT_TRUE(files && files->size() == 13u);
  EXPECT_TRUE((*files)[2].content.contains(
      "router = APIRouter(prefix=\"/blog_posts\", tags=[\"blog_posts\"])\n"));
  EXPECT_TRUE((*files)[2].content.contains("(\"/{blog_post_id}\""));
  for (int i = 0; i < 13; ++i) EXPECT_EQ((*files)[i].content.contains("blog-post"), i == 5) << i;
}

TEST(CheckFeatureName, RefusesNamesThatCannotBeAPythonPackage) {
  for (const auto& [feature, error] : Pairs{
           {"BlogPost", ""}, {"user", ""}, {"match", ""}, {"classes", ""}, {"Version2", ""},
           {"---", R"(invalid feature name "---": it has no ASCII letter or digit)"},
           {"é", R"(invalid feature name "é": it has no ASCII letter or digit)"},
           {"2fa", R"(invalid module name "2_fa": a Python module name cannot start with a digit)"},
           {"class", R"(invalid module name "class": it is a Python keyword)"},
           {"Import", R"(invalid module name "import": it is a Python keyword)"},
           {"none", R"(invalid module name "none": its class name "None" is a Python keyword)"},
           {"TRUE", R"(invalid module name "true": its class name "True" is a Python keyword)"}}) {
    const error::Result<void> checked = gm::check_feature_name(feature);
    EXPECT_EQ(checked ? "" : checked.error().joined(), error) << feature;
  }
}

}  // namespace
