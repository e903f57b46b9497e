#include "tests/support/service_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "trace/trace.h"

namespace service_test {

trace_capture_t::trace_capture_t(std::string path) : path_(std::move(path)) {
  std::filesystem::remove(path_);
  trace_use_path(string_t(path_));
}

std::vector<test_support::trace_line_t> trace_capture_t::lines() const {
  return test_support::read_trace_lines(path_);
}

std::optional<bool> bool_value(plist_t dictionary, const char* key) {
  const plist_t node = plist_dict_get_item(dictionary, key);
  if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) return std::nullopt;
  std::uint8_t value = 0;
  plist_get_bool_val(node, &value);
  return value != 0;
}

std::optional<std::string> string_value(plist_t dictionary, const char* key) {
  return platform::property_list::string_entry(dictionary, key);
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
    strings.push_back(platform::property_list::string_value(plist_array_get_item(array, i))
                          .value_or("(not a string)"));
  }
  return strings;
}

}  // namespace service_test
