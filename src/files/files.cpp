#include "files/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/text.h"

namespace files {

bool exists(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

Result<std::string> read_text(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(Error::from_errno(errno));
  std::string data;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(fd);
      return fail(Error::from_errno(saved));
    }
    if (count == 0) break;
    data.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  if (!text::is_valid_utf8(data)) return fail(std::string(kInvalidUtf8));
  return data;
}

int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace files
