#include "naming/naming.h"

namespace naming {

std::vector<std::string> split_words(std::string_view) { return {}; }
std::string capitalize(std::string_view) { return {}; }
std::string join_lowercase(const std::vector<std::string>&, char) { return {}; }
std::string to_snake(std::string_view) { return {}; }
std::string to_kebab(std::string_view) { return {}; }
std::string to_title(std::string_view) { return {}; }
std::string to_pascal(std::string_view) { return {}; }
std::string to_plural(std::string_view) { return {}; }

}  // namespace naming
