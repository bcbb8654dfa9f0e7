#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The error value of every operation that can fail: a chain of messages, carried in Result.
namespace error {

/// An error as a chain of messages, outermost first. A file-system error carries only the
/// system's text ("<description> (os error N)"), never the path.
class Error {
 public:
  explicit Error(std::string message);

  /// The error of a failed system call: "<strerror text> (os error N)".
  static Error from_errno(int errnum);
  /// The same for an error code of the system category (as std::filesystem reports them).
  static Error from_error_code(const std::error_code& code);

  /// This error under one more, outer, message.
  Error context(std::string outer) const&;
  Error context(std::string outer) &&;

  /// The messages joined by ": ", as the error line shows them.
  std::string joined() const;
  /// The errno of an error made by from_errno; 0 for any other.
  int os_error() const { return errnum_; }

 private:
  std::vector<std::string> messages_;
  int errnum_ = 0;
};

/// The system's text for an errno value, as the error chain shows it.
std::string os_error_text(int errnum);

/// The result of whatever can fail. An alias takes no [[nodiscard]]: each function that returns
/// one, and each type that carries one, is marked instead.
template <typename T>
using Result = std::expected<T, Error>;

/// Shorthand for returning an error from a function that returns a Result.
[[nodiscard]] inline std::unexpected<Error> fail(Error error) {
  return std::unexpected(std::move(error));
}
[[nodiscard]] inline std::unexpected<Error> fail(std::string message) {
  return std::unexpected(Error(std::move(message)));
}
/// The same for a failed system call, by its errno value: `return error::fail_os(errno);`
[[nodiscard]] inline std::unexpected<Error> fail_os(int errnum) {
  return fail(Error::from_errno(errnum));
}

/// Passes a failed result's error on unchanged, whatever the result's value:
/// `if (!read) return error::pass(read);`
template <typename T>
[[nodiscard]] std::unexpected<Error> pass(const Result<T>& failed) {
  return std::unexpected(failed.error());
}

}  // namespace error
