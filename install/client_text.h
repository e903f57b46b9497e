#pragma once

#include <climits>
#include <cstddef>
#include <initializer_list>
#include <string_view>

// Bounds on the texts a client sends. A namespace ends up inside file names such as
// "com.corvantix.<namespace>.Frontend.plist", so it must leave room in one name; any other text
// is at most a path.
namespace client_text {

inline constexpr std::size_t max_namespace_length = 128;
inline constexpr std::size_t max_path_length = PATH_MAX - 1;

inline bool fits_namespace_length(std::string_view vl_namespace) {
  return vl_namespace.size() <= max_namespace_length;
}

inline bool fit_path_length(std::initializer_list<std::string_view> texts) {
  for (const std::string_view text : texts) {
    if (text.size() > max_path_length) return false;
  }
  return true;
}

}  // namespace client_text
