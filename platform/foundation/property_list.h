#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Property lists through libplist. Read any format, write XML.
namespace platform::property_list {

struct plist_deleter_t {
  void operator()(plist_t node) const { plist_free(node); }
};
using plist_ptr_t = std::unique_ptr<std::remove_pointer_t<plist_t>, plist_deleter_t>;

// What libplist hands out with malloc: copied texts and data, dictionary keys, encoded lists.
struct free_deleter_t {
  void operator()(void* memory) const { std::free(memory); }
};
using plist_memory_t = std::unique_ptr<char, free_deleter_t>;

// Parses an XML or binary property list; nothing when it is not one.
plist_ptr_t parse(const void* bytes, std::size_t length);
plist_ptr_t parse(std::string_view bytes);

// Reads and parses a whole file; nothing when it cannot be read or parsed.
plist_ptr_t read_file(const std::string& path);

// The text of a string node, zero characters included; nothing for another node. Binary lists
// can hold texts with zero characters, on which libplist's plist_get_string_val aborts.
std::optional<std::string> string_value(plist_t node);
// The text of a dictionary's string entry; nothing when absent or of another type.
std::optional<std::string> string_entry(plist_t dictionary, const char* key);
// The bytes of a data node; nothing for another node.
std::optional<std::string> data_value(plist_t node);
// The bytes of a dictionary's data entry; nothing when absent or of another type.
std::optional<std::string> data_entry(plist_t dictionary, const char* key);

// The XML text of a property list.
std::string to_xml(plist_t node);
// The binary form of a property list; empty when it cannot be encoded.
std::string to_binary(plist_t node);

// Writes the XML text to path. Atomically: into a temporary file beside it, then renamed over it,
// so a reader never sees a torn file.
bool write_xml(const std::string& path, plist_t node, bool atomically);

}  // namespace platform::property_list
