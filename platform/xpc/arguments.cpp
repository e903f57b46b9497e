#include "platform/xpc/arguments.h"

#include <limits>

namespace platform {

property_list::plist_ptr_t xpc_value(const std::vector<std::uint8_t>& data) {
  return property_list::plist_ptr_t(plist_new_data(reinterpret_cast<const char*>(data.data()),
                                                   static_cast<std::uint64_t>(data.size())));
}

property_list::plist_ptr_t xpc_value(const std::string& text) {
  return property_list::plist_ptr_t(plist_new_string(text.c_str()));
}

property_list::plist_ptr_t xpc_value(bool flag) {
  return property_list::plist_ptr_t(plist_new_bool(flag ? 1 : 0));
}

// libplist keeps integers as 64-bit two's complement in an unsigned word.
property_list::plist_ptr_t xpc_value(std::int32_t number) {
  return property_list::plist_ptr_t(
      plist_new_uint(static_cast<std::uint64_t>(static_cast<std::int64_t>(number))));
}

bool xpc_is(plist_t node, xpc_type_t type) {
  if (node == nullptr) return false;
  switch (type) {
    case xpc_type_t::data:
      return plist_get_node_type(node) == PLIST_DATA;
    case xpc_type_t::string:
      return xpc_string(node).has_value();
    case xpc_type_t::boolean:
      return plist_get_node_type(node) == PLIST_BOOLEAN;
    case xpc_type_t::integer:
      return xpc_integer(node).has_value();
  }
  return false;
}

std::optional<std::vector<std::uint8_t>> xpc_data(plist_t node) {
  const auto bytes = property_list::data_value(node);
  if (!bytes) return std::nullopt;
  return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

// A text with a zero character, which binary lists can hold, is refused like another type.
std::optional<std::string> xpc_string(plist_t node) {
  auto value = property_list::string_value(node);
  if (!value || value->find('\0') != std::string::npos) return std::nullopt;
  return value;
}

std::optional<bool> xpc_boolean(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) return std::nullopt;
  std::uint8_t flag = 0;
  plist_get_bool_val(node, &flag);
  return flag != 0;
}

std::optional<std::int32_t> xpc_integer(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  std::uint64_t word = 0;
  plist_get_uint_val(node, &word);
  const auto number = static_cast<std::int64_t>(word);
  if (number < std::numeric_limits<std::int32_t>::min() ||
      number > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(number);
}

std::size_t xpc_arguments_t::count() const {
  if (array_ == nullptr || plist_get_node_type(array_) != PLIST_ARRAY) return 0;
  return plist_array_get_size(array_);
}

bool xpc_arguments_t::conform_to(std::span<const xpc_type_t> types) const {
  if (array_ == nullptr || plist_get_node_type(array_) != PLIST_ARRAY) return false;
  if (count() != types.size()) return false;
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (!xpc_is(at(i), types[i])) return false;
  }
  return true;
}

std::vector<std::uint8_t> xpc_arguments_t::data_at(std::size_t index) const {
  return xpc_data(at(index)).value_or(std::vector<std::uint8_t>{});
}

std::string xpc_arguments_t::string_at(std::size_t index) const {
  return xpc_string(at(index)).value_or(std::string{});
}

bool xpc_arguments_t::boolean_at(std::size_t index) const {
  return xpc_boolean(at(index)).value_or(false);
}

std::int32_t xpc_arguments_t::integer_at(std::size_t index) const {
  return xpc_integer(at(index)).value_or(0);
}

plist_t xpc_arguments_t::at(std::size_t index) const {
  return plist_array_get_item(array_, static_cast<std::uint32_t>(index));
}

}  // namespace platform
