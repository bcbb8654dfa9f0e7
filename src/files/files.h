#pragma once

#include <filesystem>
#include <string>

#include "error/error.h"

// The file-system queries that the generators share. Errors carry the system's text only.
namespace files {

/// Whether a metadata query on the path succeeds, following symbolic links. Any failure
/// (missing, no permission, a dangling link) counts as "does not exist".
bool exists(const std::filesystem::path& path);

/// The whole file as UTF-8 text. Fails with the system's error, or with "stream did not
/// contain valid UTF-8" when the bytes are not UTF-8.
Result<std::string> read_text(const std::filesystem::path& path);

/// Writes all of `bytes` to `fd`, going on after partial writes and interrupted calls.
/// Returns 0, or the errno of the write that failed.
int write_all(int fd, std::string_view bytes);

/// The message of a read whose bytes are not UTF-8.
inline constexpr std::string_view kInvalidUtf8 = "stream did not contain valid UTF-8";

}  // namespace files
