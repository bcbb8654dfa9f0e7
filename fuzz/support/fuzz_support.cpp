#include "support/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <fmt/format.h>
#include <unistd.h>

namespace fuzz_support {

void property_failed(std::string_view property, std::string_view detail) {
  std::string shown;
  for (const char c : detail) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte >= 0x20 && byte < 0x7F && c != '\\' ? std::string(1, c)
                                                      : fmt::format("\\x{:02x}", byte);
  }
  std::fputs(fmt::format("property violated: {}\n  {}\n", property, shown).c_str(), stderr);
  std::fflush(stderr);
  std::abort();
}

const std::filesystem::path& process_temp_dir() {
  static const std::filesystem::path dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "brintle-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      property_failed("a temporary directory is made", pattern);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(process_temp_dir(), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return dir;
}

void write_bytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) property_failed("the input can be written to a file", path.string());
}

}  // namespace fuzz_support
