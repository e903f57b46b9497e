#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/property_list.h"

// The few property-list reads the code-signing checks need, straight on libplist.
namespace platform::plist_values {

// Any format; nothing when the bytes are not a property list.
property_list::plist_ptr_t parse(std::string_view bytes);

// The text of a dictionary's string entry; nothing when absent or of another type.
std::optional<std::string> string_entry(plist_t dictionary, const char* key);
// The bytes of a dictionary's data entry; nothing when absent or of another type.
std::optional<std::string> data_entry(plist_t dictionary, const char* key);

}  // namespace platform::plist_values
