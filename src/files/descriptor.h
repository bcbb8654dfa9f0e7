#pragma once

#include <cerrno>
#include <string_view>

#include "error/error.h"

// Writing to a descriptor that is already open. Apart from files/files.h, whose queries take
// paths, so that a unit that writes to the standard streams needs no <filesystem>.
namespace files {

/// Makes the system call `call` stands for again for as long as a signal interrupts it (it
/// fails with EINTR), and gives its last result: the one place that retries.
template <typename Call>
auto retry_on_eintr(Call call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

/// Parks /dev/null on each standard descriptor (0, 1, 2) that is not open. Otherwise the next
/// open() would be handed that number, and the messages meant for the stream would land in a
/// generated file; writes to /dev/null are swallowed, as for a stream that is not open.
void occupy_closed_standard_descriptors();

/// Writes all of `bytes` to `fd`, going on after partial writes and interrupted calls.
[[nodiscard]] error::Result<void> write_all(int fd, std::string_view bytes);

}  // namespace files
