#pragma once

#include <string_view>

#include "error/error.h"

// Writing to a descriptor that is already open. Apart from files/files.h, whose queries take
// paths, so that a unit that writes to the standard streams needs no <filesystem>.
namespace files {

/// Writes all of `bytes` to `fd`, going on after partial writes and interrupted calls.
error::Result<void> write_all(int fd, std::string_view bytes);

}  // namespace files
