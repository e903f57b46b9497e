#include "service/velmora_helper_xpc.h"

#include <algorithm>
#include <array>
#include <span>

#include "service/protocol_binding.h"
#include "service/selectors.h"

namespace {

using platform::xpc_type_t;
using enum platform::xpc_type_t;
// One entry of the protocol table.
struct operation_t {
  std::string_view selector;
  std::span<const xpc_type_t> arguments;
  xpc_type_t reply;
  void (*invoke)(helper_tool_t& service, const platform::xpc_arguments_t& arguments,
                 platform::xpc_reply_t reply);
};

template <xpc_type_t... types>
struct types_t {
  static constexpr std::array<xpc_type_t, sizeof...(types)> list{types...};
};

// One operation carried out by a method of the service object. The stated types must be the
// method's own, which the compiler checks.
template <auto method, xpc_type_t reply, typename arguments_t>
constexpr operation_t operation(std::string_view name) {
  using traits = protocol_binding::method_traits<method>;
  constexpr auto indices = std::make_index_sequence<traits::argument_count>();
  static_assert(traits::argument_types(indices) == arguments_t::list,
                "argument types differ from the method's parameters");
  static_assert(protocol_binding::wire_type<typename traits::reply_t>::value == reply,
                "reply type differs from the method's reply block");
  return {name, arguments_t::list, reply,
          [](helper_tool_t& service, const platform::xpc_arguments_t& arguments,
             platform::xpc_reply_t reply_to) {
            traits::call(service, arguments, std::move(reply_to),
                         std::make_index_sequence<traits::argument_count>());
          }};
}

// An operation the protocol declares but the service object does not implement: it answers NO
// so that the client's reply block is still called once.
template <typename arguments_t>
constexpr operation_t answered_no(std::string_view name) {
  return {name, arguments_t::list, boolean,
          [](helper_tool_t&, const platform::xpc_arguments_t&, platform::xpc_reply_t reply_to) {
            std::move(reply_to)(platform::xpc_value(false));
          }};
}

constexpr std::array operations_table{
    operation<&helper_tool_t::get_version_with_reply, string, types_t<>>(selector::get_version),
    operation<&helper_tool_t::install_velmora_service_with, boolean, types_t<data, string, string>>(
        selector::install_velmora_service),
    operation<&helper_tool_t::install_velmora_with_auth_data, boolean,
              types_t<data, string, string, string, string>>(selector::install_velmora),
    operation<&helper_tool_t::uninstall_velmora_with_auth_data, boolean,
              types_t<data, string, string, string, string>>(selector::uninstall_velmora),
    operation<&helper_tool_t::fixOSMaxFilesIfNeedAndReply, boolean, types_t<>>(
        selector::fix_os_max_files),
    answered_no<types_t<string>>(selector::restart_velmora),
    operation<&helper_tool_t::reboot_computer_with_reply, boolean, types_t<>>(
        selector::reboot_computer),
    operation<&helper_tool_t::start_service_with_namespace, boolean, types_t<string>>(
        selector::start_service),
    operation<&helper_tool_t::is_service_installed_with_namespace, boolean, types_t<string>>(
        selector::is_service_installed),
    operation<&helper_tool_t::is_service_disabled_with_namespace, boolean, types_t<string>>(
        selector::is_service_disabled),
    operation<&helper_tool_t::is_service_run_at_load_with_namespace, boolean, types_t<string>>(
        selector::is_service_run_at_load),
    operation<&helper_tool_t::set_tray_enabled, boolean, types_t<string, boolean, string>>(
        selector::set_tray_enabled),
    operation<&helper_tool_t::quit_service, boolean, types_t<string>>(selector::quit_service),
    operation<&helper_tool_t::check_global_settings_auth, boolean, types_t<data>>(
        selector::check_global_settings_auth),
    operation<&helper_tool_t::set_darkwake_mode, integer, types_t<integer>>(
        selector::set_darkwake_mode),
    operation<&helper_tool_t::isAutostartEnabledForNamespace, boolean, types_t<string>>(
        selector::is_autostart_enabled),
    operation<&helper_tool_t::setAutostartEnabled, boolean, types_t<boolean, string>>(
        selector::set_autostart_enabled),
};

}  // namespace

platform::xpc_dispatch_t velmora_helper_xpc_t::dispatch(std::string_view selector,
                                                        const platform::xpc_arguments_t& arguments,
                                                        platform::xpc_reply_t reply) {
  const auto found = std::ranges::find(operations_table, selector, &operation_t::selector);
  if (found == operations_table.end()) return platform::xpc_dispatch_t::unknown_operation;
  if (!arguments.conform_to(found->arguments)) return platform::xpc_dispatch_t::bad_arguments;
  found->invoke(service_, arguments, std::move(reply));
  return platform::xpc_dispatch_t::handled;
}
