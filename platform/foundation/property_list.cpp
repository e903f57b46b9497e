#include "platform/foundation/property_list.h"

#include <cstdint>
#include <limits>

#include "platform/foundation/file_manager.h"
#include "platform/foundation/file_writing.h"

namespace platform::property_list {

plist_ptr_t parse(const void* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0 || length > std::numeric_limits<std::uint32_t>::max()) {
    return nullptr;
  }
  plist_t node = nullptr;
  plist_from_memory(static_cast<const char*>(bytes), static_cast<std::uint32_t>(length), &node);
  return plist_ptr_t(node);
}

plist_ptr_t parse(std::string_view bytes) {
  return parse(bytes.data(), bytes.size());
}

plist_ptr_t read_file(const std::string& path) {
  const auto contents = file_manager::contentsAtPath(path);
  if (!contents) return nullptr;
  return parse(contents->data(), contents->size());
}

std::optional<std::string> string_value(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  return text == nullptr ? std::string{} : std::string(text, length);
}

std::optional<std::string> string_entry(plist_t dictionary, const char* key) {
  if (!PLIST_IS_DICT(dictionary)) return std::nullopt;
  return string_value(plist_dict_get_item(dictionary, key));
}

std::optional<std::string> data_value(plist_t node) {
  if (!PLIST_IS_DATA(node)) return std::nullopt;
  std::uint64_t length = 0;
  const char* bytes = plist_get_data_ptr(node, &length);
  return bytes == nullptr ? std::string{} : std::string(bytes, length);
}

std::optional<std::string> data_entry(plist_t dictionary, const char* key) {
  if (!PLIST_IS_DICT(dictionary)) return std::nullopt;
  return data_value(plist_dict_get_item(dictionary, key));
}

std::string to_xml(plist_t node) {
  if (node == nullptr) return {};
  // The library writes its output only into a pointer that is null on entry.
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  if (xml == nullptr) return {};
  std::string text(xml, length);
  plist_to_xml_free(xml);
  return text;
}

std::string to_binary(plist_t node) {
  if (node == nullptr) return {};
  char* raw = nullptr;  // written only into a null pointer, like the XML text
  std::uint32_t length = 0;
  plist_to_bin(node, &raw, &length);
  const plist_memory_t binary(raw);
  return binary == nullptr ? std::string() : std::string(binary.get(), length);
}

bool write_xml(const std::string& path, plist_t node, bool atomically) {
  const std::string xml = to_xml(node);
  if (xml.empty()) return false;
  return atomically ? file_writing::write_atomically(path, xml)
                    : file_writing::write_in_place(path, xml);
}

}  // namespace platform::property_list
