#include "tools/launchctl/plist_values.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/base/unique_fd.h"

namespace standin::plist_values {
namespace {

// Through the text's pointer: libplist's copying reader aborts on a text with a zero character.
std::string take_string(plist_t node) {
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  return text != nullptr ? std::string(text, length) : std::string();
}

plist_t item_of_type(plist_t dictionary, const char* key, plist_type type) {
  plist_t node = plist_dict_get_item(dictionary, key);
  return node != nullptr && plist_get_node_type(node) == type ? node : nullptr;
}

struct xml_text_deleter_t {
  void operator()(char* text) const { plist_to_xml_free(text); }
};

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const auto written = ::write(fd, data, size);
    if (written < 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

plist_ptr_t read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return nullptr;
  const std::string bytes(std::istreambuf_iterator<char>(file), {});
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  return plist_ptr_t(root);
}

bool write_file_atomically(const std::string& path, plist_t node) {
  char* xml = nullptr;  // libplist writes its output only into a null pointer
  uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  const std::unique_ptr<char, xml_text_deleter_t> text(xml);
  if (!text) return false;
  const auto temporary = path + ".tmp";
  platform::unique_fd_t fd(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd || !write_all(fd.get(), text.get(), length)) {
    ::unlink(temporary.c_str());
    return false;
  }
  fd.reset();
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string string_value(plist_t dictionary, const char* key) {
  plist_t node = item_of_type(dictionary, key, PLIST_STRING);
  return node != nullptr ? take_string(node) : std::string();
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
    plist_t item = plist_array_get_item(array, i);
    if (plist_get_node_type(item) == PLIST_STRING) values.push_back(take_string(item));
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
