#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// What every fuzz target shares: a failed property aborts the process, so that libFuzzer
// records the input as a crash; file readers get a directory of their own per process.
namespace fuzz_support {

/// The fuzzer's input bytes as text.
inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

/// Prints the property that failed with the values involved (their bytes outside printable
/// ASCII written \xNN), then aborts.
[[noreturn]] void property_failed(std::string_view property, std::string_view detail);

/// Aborts through property_failed unless `holds`.
inline void check(bool holds, std::string_view property, std::string_view detail = {}) {
  if (!holds) property_failed(property, detail);
}

/// A fresh directory under the system's temporary directory, one per process, removed when
/// the process exits normally (TMPDIR decides where, so a crashed run leaves it in a known place).
const std::filesystem::path& process_temp_dir();

/// Writes the bytes to `path`, replacing the file; aborts when that fails.
void write_bytes(const std::filesystem::path& path, std::string_view bytes);

}  // namespace fuzz_support
