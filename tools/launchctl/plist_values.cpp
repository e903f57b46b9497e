#include "tools/launchctl/plist_values.h"

namespace standin::plist_values {
namespace {

plist_t item_of_type(plist_t dictionary, const char* key, plist_type type) {
  plist_t node = plist_dict_get_item(dictionary, key);
  return node != nullptr && plist_get_node_type(node) == type ? node : nullptr;
}

}  // namespace

std::string string_value(plist_t dictionary, const char* key) {
  return platform::property_list::string_entry(dictionary, key).value_or("");
}

bool bool_value(plist_t dictionary, const char* key) {
  plist_t node = item_of_type(dictionary, key, PLIST_BOOLEAN);
  uint8_t value = 0;
  if (node != nullptr) plist_get_bool_val(node, &value);
  return value != 0;
}

std::optional<std::uint64_t> uint_value(plist_t dictionary, const char* key) {
  plist_t node = item_of_type(dictionary, key, PLIST_UINT);
  if (node == nullptr) return std::nullopt;
  uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return value;
}

std::vector<std::string> string_array(plist_t dictionary, const char* key) {
  std::vector<std::string> values;
  plist_t array = item_of_type(dictionary, key, PLIST_ARRAY);
  if (array == nullptr) return values;
  const auto size = plist_array_get_size(array);
  for (uint32_t i = 0; i < size; ++i) {
    if (auto text = platform::property_list::string_value(plist_array_get_item(array, i)))
      values.push_back(std::move(*text));
  }
  return values;
}

void set_string(plist_t dictionary, const char* key, const std::string& value) {
  if (!value.empty()) plist_dict_set_item(dictionary, key, plist_new_string(value.c_str()));
}

void set_string_array(plist_t dictionary, const char* key, const std::vector<std::string>& values) {
  plist_t array = plist_new_array();
  for (const auto& value : values)
    plist_array_append_item(array, plist_new_string(value.c_str()));
  plist_dict_set_item(dictionary, key, array);
}

}  // namespace standin::plist_values
