#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/property_list.h"

// Reading property lists the way a test checks them, apart from the code under test.
namespace test_support {

// The boolean or string under key of a dictionary; nothing when absent or of another type.
std::optional<bool> bool_value(plist_t dictionary, const char* key);
std::optional<std::string> string_value(plist_t dictionary, const char* key);
// The dictionary's keys, sorted.
std::vector<std::string> dictionary_keys(plist_t dictionary);
// The strings of the array under key; empty when there is none.
std::vector<std::string> string_array(plist_t dictionary, const char* key);

}  // namespace test_support
