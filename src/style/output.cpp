#include "style/output.h"

#include <cstdio>

namespace style {

bool colour_enabled(const std::function<std::optional<std::string>(std::string_view)>&, bool) {
  return false;
}
bool colour_enabled(Stream) { return false; }
std::string strip_ansi(std::string_view text) { return std::string(text); }
void print_line(Stream stream, std::string_view text) {
  std::fprintf(stream == Stream::Stdout ? stdout : stderr, "%.*s\n", static_cast<int>(text.size()),
               text.data());
}
void print_error_line(std::string_view chain) {
  print_line(Stream::Stderr, std::string("error: ") + std::string(chain));
}

}  // namespace style
