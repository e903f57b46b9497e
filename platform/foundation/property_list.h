#pragma once

#include <plist/plist.h>

#include <memory>
#include <optional>
#include <string>

// Property lists through libplist. Read any format, write XML.
namespace platform::property_list {

struct plist_deleter_t {
  void operator()(plist_t node) const { plist_free(node); }
};
using plist_ptr_t = std::unique_ptr<std::remove_pointer_t<plist_t>, plist_deleter_t>;

// Parses an XML or binary property list; nothing when it is not one.
plist_ptr_t parse(const void* bytes, std::size_t length);

// Reads and parses a whole file; nothing when it cannot be read or parsed.
plist_ptr_t read_file(const std::string& path);

// The text of a string node, zero characters included; nothing for another node. Binary lists
// can hold texts with zero characters, on which libplist's plist_get_string_val aborts.
std::optional<std::string> string_value(plist_t node);

// The XML text of a property list.
std::string to_xml(plist_t node);

// Writes the XML text to path. Atomically: into a temporary file beside it, then renamed over it,
// so a reader never sees a torn file.
bool write_xml(const std::string& path, plist_t node, bool atomically);

}  // namespace platform::property_list
