#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/property_list.h"

namespace platform {

// The bytes of the property lists linked into this executable: the sections __info_plist and
// __launchd_plist. Empty when the executable carries none.
std::string_view embedded_info_plist();
std::string_view embedded_launchd_plist();

// A bundle's information dictionary. The main bundle of the service is its own executable, whose
// information list is embedded rather than stored beside it.
class bundle_t {
 public:
  // The main bundle, read once from the embedded information list.
  static const bundle_t& mainBundle();

  // A bundle whose information list has this text; a text that does not parse gives an empty
  // dictionary.
  explicit bundle_t(std::string_view info_plist);

  // The value for key, borrowed from the dictionary; null when missing.
  plist_t objectForInfoDictionaryKey(const char* key) const;

  // A string value; nothing when missing or not a string.
  std::optional<std::string> stringForInfoDictionaryKey(const char* key) const;
  // The strings of an array value, in order (non-strings skipped); empty when missing.
  std::vector<std::string> stringsForInfoDictionaryKey(const char* key) const;

 private:
  property_list::plist_ptr_t info_;
};

}  // namespace platform
