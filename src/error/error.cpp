#include "error/error.h"

#include <cstring>
#include <utility>

#include <fmt/core.h>

namespace error {

Error::Error(std::string message) { messages_.push_back(std::move(message)); }

std::string os_error_text(int errnum) {
  return fmt::format("{} (os error {})", std::strerror(errnum), errnum);
}

Error Error::from_errno(int errnum) {
  Error error(os_error_text(errnum));
  error.errnum_ = errnum;
  return error;
}

Error Error::from_error_code(const std::error_code& code) {
  if (code.category() == std::system_category() || code.category() == std::generic_category()) {
    return from_errno(code.value());
  }
  return Error(code.message());
}

Error Error::context(std::string outer) const& {
  Error copy = *this;
  return std::move(copy).context(std::move(outer));
}

Error Error::context(std::string outer) && {
  messages_.insert(messages_.begin(), std::move(outer));
  return std::move(*this);
}

std::string Error::joined() const {
  std::string chain;
  for (const std::string& message : messages_) {
    if (&message != messages_.data()) chain += ": ";
    chain += message;
  }
  return chain;
}

}  // namespace error
