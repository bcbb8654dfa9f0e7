#include "support/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <fmt/format.h>
#include <unistd.h>

namespace fuzz_support {

void property_failed(std::string_view property, std::string_view detail) {
  std::fputs(fmt::format("property violated: {}\n", property).c_str(), stderr);
  if (!detail.empty()) std::fputs(fmt::format("  {}\n", detail).c_str(), stderr);
  std::fflush(stderr);
  std::abort();
}

std::string escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else {
      out += fmt::format("\\x{:02x}", byte);
    }
  }
  return out;
}

namespace {

struct TempDir {
  std::filesystem::path path;

  TempDir() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
    std::string pattern = (base / "brintle-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      property_failed("the per-process temporary directory can be created", pattern);
    }
    path = pattern;
  }

  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

const std::filesystem::path& process_temp_dir() {
  static const TempDir dir;
  return dir.path;
}

void write_bytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) property_failed("the input can be written to a file", path.string());
}

}  // namespace fuzz_support
