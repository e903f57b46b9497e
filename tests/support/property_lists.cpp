#include "tests/support/property_lists.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace test_support {

std::optional<bool> bool_value(plist_t dictionary, const char* key) {
  const plist_t node = plist_dict_get_item(dictionary, key);
  if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) return std::nullopt;
  std::uint8_t value = 0;
  plist_get_bool_val(node, &value);
  return value != 0;
}

std::optional<std::string> string_value(plist_t dictionary, const char* key) {
  const plist_t node = plist_dict_get_item(dictionary, key);
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* text = nullptr;
  plist_get_string_val(node, &text);
  std::string value = text != nullptr ? text : "";
  std::free(text);
  return value;
}

std::vector<std::string> dictionary_keys(plist_t dictionary) {
  std::vector<std::string> keys;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(dictionary, &iterator);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dictionary, iterator, &key, &value);
    if (key == nullptr) break;
    keys.emplace_back(key);
    std::free(key);
  }
  std::free(iterator);
  std::sort(keys.begin(), keys.end());
  return keys;
}

std::vector<std::string> string_array(plist_t dictionary, const char* key) {
  std::vector<std::string> strings;
  const plist_t array = plist_dict_get_item(dictionary, key);
  if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY) return strings;
  for (std::uint32_t i = 0; i < plist_array_get_size(array); ++i) {
    char* text = nullptr;
    plist_get_string_val(plist_array_get_item(array, i), &text);
    strings.emplace_back(text != nullptr ? text : "(not a string)");
    std::free(text);
  }
  return strings;
}

}  // namespace test_support
