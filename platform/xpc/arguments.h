#pragma once

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/property_list.h"

// The value types a remote operation takes and answers, and their property-list form.
namespace platform {

enum class xpc_type_t { data, string, boolean, integer };

property_list::plist_ptr_t xpc_value(const std::vector<std::uint8_t>& data);
property_list::plist_ptr_t xpc_value(const std::string& text);
property_list::plist_ptr_t xpc_value(bool flag);
property_list::plist_ptr_t xpc_value(std::int32_t number);

bool xpc_is(plist_t node, xpc_type_t type);

// Each reads a value of its type; nothing when the node is missing or of another type, or an
// integer lies outside the signed 32-bit range.
std::optional<std::vector<std::uint8_t>> xpc_data(plist_t node);
std::optional<std::string> xpc_string(plist_t node);
std::optional<bool> xpc_boolean(plist_t node);
std::optional<std::int32_t> xpc_integer(plist_t node);

// The argument array of one request. Borrowed: the request owns the array.
class xpc_arguments_t {
 public:
  explicit xpc_arguments_t(plist_t array) : array_(array) {}

  std::size_t count() const;
  // True when the count and the type of every argument are the ones given.
  bool conform_to(std::span<const xpc_type_t> types) const;

  // Readers for arguments already checked by conform_to.
  std::vector<std::uint8_t> data_at(std::size_t index) const;
  std::string string_at(std::size_t index) const;
  bool boolean_at(std::size_t index) const;
  std::int32_t integer_at(std::size_t index) const;

 private:
  plist_t at(std::size_t index) const;

  plist_t array_;
};

}  // namespace platform
