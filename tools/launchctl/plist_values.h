#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/property_list.h"

// Typed reads of a dictionary's values through libplist's C interface (libplist++ cannot index
// arrays read from binary lists). A missing key or a value of another type reads as empty.
namespace standin::plist_values {

using platform::property_list::plist_ptr_t;

std::string string_value(plist_t dictionary, const char* key);
bool bool_value(plist_t dictionary, const char* key);
std::optional<std::uint64_t> uint_value(plist_t dictionary, const char* key);
std::vector<std::string> string_array(plist_t dictionary, const char* key);

void set_string(plist_t dictionary, const char* key, const std::string& value);
void set_string_array(plist_t dictionary, const char* key, const std::vector<std::string>& values);

}  // namespace standin::plist_values
