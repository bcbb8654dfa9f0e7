#pragma once

#include <string>
#include <string_view>
#include <vector>

// The name forms of a feature or project name. Pure text conversions.
namespace naming {

/// The words of a text: runs of ASCII digits, capitals, a capital with small letters, or small
/// letters; every other character ends a word and is dropped.
std::vector<std::string> split_words(std::string_view text);
/// The word with its first character upper-cased and the rest lower-cased.
std::string capitalize(std::string_view word);
/// The lower-cased words joined by `separator`.
std::string join_lowercase(const std::vector<std::string>& words, char separator);

std::string to_snake(std::string_view text);   ///< "userProfile" -> "user_profile"
std::string to_kebab(std::string_view text);   ///< "userProfile" -> "user-profile"
std::string to_title(std::string_view text);   ///< "userProfile" -> "User Profile"
std::string to_pascal(std::string_view text);  ///< "userProfile" -> "UserProfile"
std::string to_plural(std::string_view text);  ///< "city" -> "cities", on the whole text

/// Whether the word is a hard keyword of Python 3, which can name no package, class or function.
bool is_python_keyword(std::string_view word);

}  // namespace naming
