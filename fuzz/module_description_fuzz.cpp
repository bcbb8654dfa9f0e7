// The module description reader: any bytes in a module's __init__.py give one trimmed line
// of its docstring, or the empty text, never a crash.
#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "generators/registry.h"
#include "support/fuzz_support.h"
#include "text/text.h"

using fuzz_support::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader takes any file, so every input goes to it as it is.
  const std::string_view input = fuzz_support::as_text(data, size);
  const std::filesystem::path init_file = fuzz_support::process_temp_dir() / "__init__.py";
  fuzz_support::write_bytes(init_file, input);

  const std::string description = generators::registry::module_description(init_file.c_str());
  if (description.empty()) return 0;

  const std::string detail = fmt::format("{} from {}", description, input);
  check(text::is_valid_utf8(input), "a description comes from UTF-8 only", detail);
  check(text::trim_start(input).starts_with(R"(""")"),
        "a description comes from a file that opens with a docstring", detail);
  check(text::is_valid_utf8(description), "a description is UTF-8", detail);
  check(text::trim(description) == description, "a description is trimmed", detail);
  check(description.find('\n') == std::string::npos, "a description is one line", detail);
  check(description.find(R"(""")") == std::string::npos,
        "a description stays inside the docstring", detail);
  check(input.find(description) != std::string_view::npos, "a description is part of the file",
        detail);
  return 0;
}
