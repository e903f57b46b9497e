#pragma once

#include <string>
#include <string_view>

// What the install and uninstall requests accept as an application bundle.
namespace app_bundle {

inline constexpr std::string_view suffix = ".app";

// The application's program, relative to its bundle.
inline constexpr const char* program_in_bundle = "Contents/MacOS/Velmora";

// Exact case: "Velmora.APP" is not a bundle name.
inline bool hasBundleSuffix(const std::string& bundle_name) {
  return bundle_name.ends_with(suffix);
}

}  // namespace app_bundle
