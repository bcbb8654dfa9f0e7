#include "render/render.h"

namespace render {

Context& Context::put(std::string_view key, std::string value) {
  for (auto& [existing, current] : pairs_) {
    if (existing == key) {
      current = std::move(value);
      return *this;
    }
  }
  pairs_.emplace_back(std::string(key), std::move(value));
  return *this;
}

const std::string* Context::find(std::string_view key) const {
  for (const auto& [existing, value] : pairs_) {
    if (existing == key) return &value;
  }
  return nullptr;
}

Result<std::string> render_str(std::string_view, const Context&) {
  return fail("not built yet: render_str");
}
std::string tojson(std::string_view) { return {}; }
Result<std::vector<GeneratedFile>> render_tree(std::string_view, const Context&,
                                               const std::filesystem::path&, bool, bool) {
  return fail("not built yet: render_tree");
}
Result<std::string> render_template(std::string_view, std::string_view, const Context&) {
  return fail("not built yet: render_template");
}

}  // namespace render
