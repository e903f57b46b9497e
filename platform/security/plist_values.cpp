#include "platform/security/plist_values.h"

#include <limits>

namespace platform::plist_values {

property_list::plist_ptr_t parse(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return nullptr;
  plist_t node = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &node);
  return property_list::plist_ptr_t(node);
}

std::optional<std::string> string_entry(plist_t dictionary, const char* key) {
  if (!PLIST_IS_DICT(dictionary)) return std::nullopt;
  plist_t item = plist_dict_get_item(dictionary, key);
  if (!PLIST_IS_STRING(item)) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(item, &length);
  return std::string(text, length);
}

std::optional<std::string> data_entry(plist_t dictionary, const char* key) {
  if (!PLIST_IS_DICT(dictionary)) return std::nullopt;
  plist_t item = plist_dict_get_item(dictionary, key);
  if (!PLIST_IS_DATA(item)) return std::nullopt;
  std::uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(item, &length);
  return std::string(bytes, length);
}

}  // namespace platform::plist_values
