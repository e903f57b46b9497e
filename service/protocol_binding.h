#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/xpc/exported_object.h"
#include "service/helper_tool.h"

// Binds one remote operation to a method of the service object: the argument types of the
// request become the method's parameters, the reply block turns the answer into its reply value.
namespace protocol_binding {

using platform::xpc_type_t;

template <typename value_t>
struct wire_type;
template <>
struct wire_type<auth_data_t> : std::integral_constant<xpc_type_t, xpc_type_t::data> {};
template <>
struct wire_type<std::string> : std::integral_constant<xpc_type_t, xpc_type_t::string> {};
template <>
struct wire_type<bool> : std::integral_constant<xpc_type_t, xpc_type_t::boolean> {};
template <>
struct wire_type<std::int32_t> : std::integral_constant<xpc_type_t, xpc_type_t::integer> {};
template <>
struct wire_type<bool_reply_t> : std::integral_constant<xpc_type_t, xpc_type_t::boolean> {};
template <>
struct wire_type<string_reply_t> : std::integral_constant<xpc_type_t, xpc_type_t::string> {};
template <>
struct wire_type<int_reply_t> : std::integral_constant<xpc_type_t, xpc_type_t::integer> {};

template <typename value_t>
value_t argument(const platform::xpc_arguments_t& arguments, std::size_t index);
template <>
inline auth_data_t argument(const platform::xpc_arguments_t& arguments, std::size_t index) {
  return arguments.data_at(index);
}
template <>
inline std::string argument(const platform::xpc_arguments_t& arguments, std::size_t index) {
  return arguments.string_at(index);
}
template <>
inline bool argument(const platform::xpc_arguments_t& arguments, std::size_t index) {
  return arguments.boolean_at(index);
}
template <>
inline std::int32_t argument(const platform::xpc_arguments_t& arguments, std::size_t index) {
  return arguments.integer_at(index);
}

// The reply block handed to a handler: it forwards its one value to the connection.
template <typename reply_t>
reply_t reply_block(platform::xpc_reply_t reply) {
  return [reply = std::move(reply)](const auto& value) mutable {
    std::move(reply)(platform::xpc_value(value));
  };
}

template <auto method>
struct method_traits;

template <typename... parameters_t, void (helper_tool_t::*method)(parameters_t...)>
struct method_traits<method> {
  using values_t = std::tuple<std::remove_cvref_t<parameters_t>...>;
  static constexpr std::size_t argument_count = sizeof...(parameters_t) - 1;
  using reply_t = std::tuple_element_t<argument_count, values_t>;

  template <std::size_t... index>
  static constexpr std::array<xpc_type_t, argument_count> argument_types(
      std::index_sequence<index...>) {
    return {wire_type<std::tuple_element_t<index, values_t>>::value...};
  }

  template <std::size_t... index>
  static void call(helper_tool_t& service, const platform::xpc_arguments_t& arguments,
                   platform::xpc_reply_t reply, std::index_sequence<index...>) {
    (service.*method)(argument<std::tuple_element_t<index, values_t>>(arguments, index)...,
                      reply_block<reply_t>(std::move(reply)));
  }
};

}  // namespace protocol_binding
