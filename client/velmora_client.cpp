#include "client/velmora_client.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "platform/xpc/arguments.h"
#include "platform/xpc/hardened_runtime.h"
#include "platform/xpc/listener.h"
#include "platform/xpc/wire.h"
#include "service/selectors.h"

namespace {

using platform::property_list::plist_ptr_t;

constexpr std::string_view service_name = "com.corvantix.velmora-vl-5e3a07c4.Helper";

// Entered before main runs: the helper serves no process that is dumpable, and a process that
// became non-dumpable only later could have been changed before.
[[maybe_unused]] const bool hardened = platform::enter_hardened_runtime();

platform::unique_fd_t connected_socket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return {};
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  platform::unique_fd_t fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd &&
      ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    fd.reset();
  }
  return fd;
}

bool is_acceptance(plist_t message) {
  return plist_get_node_type(message) == PLIST_DICT &&
         platform::xpc_boolean(plist_dict_get_item(message, "accepted")).value_or(false);
}

template <typename... values_t>
std::vector<plist_ptr_t> arguments(const values_t&... values) {
  std::vector<plist_ptr_t> list;
  (list.push_back(platform::xpc_value(values)), ...);
  return list;
}

}  // namespace

std::string velmora_client_t::default_socket_path() {
  return platform::xpc_socket_path(service_name);
}

std::optional<velmora_client_t> velmora_client_t::connect(const std::string& socket_path,
                                                          connect_status_t* status) {
  connect_status_t ignored{};
  if (status == nullptr) status = &ignored;
  platform::unique_fd_t fd = connected_socket(socket_path);
  if (!fd) {
    *status = connect_status_t::unreachable;
    return std::nullopt;
  }
  return accepted_on(std::move(fd), status);
}

std::optional<velmora_client_t> velmora_client_t::accepted_on(platform::unique_fd_t fd,
                                                              connect_status_t* status) {
  connect_status_t ignored{};
  if (status == nullptr) status = &ignored;
  // A refused client is closed without a word.
  velmora_client_t client(std::move(fd));
  const auto frame = client.reader_.read();
  if (frame.status != platform::xpc_wire::read_status_t::ok ||
      !is_acceptance(frame.message.get())) {
    *status = connect_status_t::refused;
    return std::nullopt;
  }
  *status = connect_status_t::accepted;
  return client;
}

plist_ptr_t velmora_client_t::call(std::string_view selector, std::vector<plist_ptr_t> args) {
  const std::uint64_t seq = next_seq_++;
  const plist_ptr_t request(plist_new_dict());
  plist_t array = plist_new_array();
  for (auto& value : args)
    plist_array_append_item(array, value.release());
  plist_dict_set_item(request.get(), "seq", plist_new_uint(seq));
  plist_dict_set_item(request.get(), "op", plist_new_string(std::string(selector).c_str()));
  plist_dict_set_item(request.get(), "args", array);
  if (!platform::xpc_wire::write_frame(socket_.get(), request.get())) return {};
  auto frame = reader_.read();
  if (frame.status != platform::xpc_wire::read_status_t::ok ||
      plist_get_node_type(frame.message.get()) != PLIST_DICT) {
    return {};
  }
  std::uint64_t reply_seq = 0;
  plist_t seq_node = plist_dict_get_item(frame.message.get(), "seq");
  if (seq_node == nullptr || plist_get_node_type(seq_node) != PLIST_UINT) return {};
  plist_get_uint_val(seq_node, &reply_seq);
  plist_t reply = plist_dict_get_item(frame.message.get(), "reply");
  if (reply_seq != seq || reply == nullptr) return {};
  return plist_ptr_t(plist_copy(reply));
}

template <typename... values_t>
std::optional<bool> velmora_client_t::call_boolean(std::string_view selector,
                                                   const values_t&... values) {
  return platform::xpc_boolean(call(selector, arguments(values...)).get());
}

std::optional<std::string> velmora_client_t::get_version() {
  return platform::xpc_string(call(selector::get_version, {}).get());
}

std::optional<bool> velmora_client_t::install_velmora_service(const auth_t& auth,
                                                              const std::string& vl_namespace,
                                                              const std::string& user_config) {
  return call_boolean(selector::install_velmora_service, auth, vl_namespace, user_config);
}

std::optional<bool> velmora_client_t::install_velmora(const auth_t& auth,
                                                      const std::string& bundle_path,
                                                      const std::string& sysconfig_path,
                                                      const std::string& vl_namespace,
                                                      const std::string& user_name) {
  return call_boolean(selector::install_velmora, auth, bundle_path, sysconfig_path, vl_namespace,
                      user_name);
}

std::optional<bool> velmora_client_t::uninstall_velmora(const auth_t& auth,
                                                        const std::string& bundle_path,
                                                        const std::string& sysconfig_path,
                                                        const std::string& vl_namespace,
                                                        const std::string& user_name) {
  return call_boolean(selector::uninstall_velmora, auth, bundle_path, sysconfig_path, vl_namespace,
                      user_name);
}

std::optional<bool> velmora_client_t::fix_os_max_files() {
  return call_boolean(selector::fix_os_max_files);
}

std::optional<bool> velmora_client_t::restart_velmora(const std::string& bundle_path) {
  return call_boolean(selector::restart_velmora, bundle_path);
}

std::optional<bool> velmora_client_t::reboot_computer() {
  return call_boolean(selector::reboot_computer);
}

std::optional<bool> velmora_client_t::start_service(const std::string& vl_namespace) {
  return call_boolean(selector::start_service, vl_namespace);
}

std::optional<bool> velmora_client_t::is_service_installed(const std::string& vl_namespace) {
  return call_boolean(selector::is_service_installed, vl_namespace);
}

std::optional<bool> velmora_client_t::is_service_disabled(const std::string& vl_namespace) {
  return call_boolean(selector::is_service_disabled, vl_namespace);
}

std::optional<bool> velmora_client_t::is_service_run_at_load(const std::string& vl_namespace) {
  return call_boolean(selector::is_service_run_at_load, vl_namespace);
}

std::optional<bool> velmora_client_t::set_tray_enabled(const std::string& tray, bool enabled,
                                                       const std::string& bundle_path) {
  return call_boolean(selector::set_tray_enabled, tray, enabled, bundle_path);
}

std::optional<bool> velmora_client_t::quit_service(const std::string& vl_namespace) {
  return call_boolean(selector::quit_service, vl_namespace);
}

std::optional<bool> velmora_client_t::check_global_settings_auth(const auth_t& auth) {
  return call_boolean(selector::check_global_settings_auth, auth);
}

std::optional<std::int32_t> velmora_client_t::set_darkwake_mode(std::int32_t mode) {
  return platform::xpc_integer(call(selector::set_darkwake_mode, arguments(mode)).get());
}

std::optional<bool> velmora_client_t::is_autostart_enabled(const std::string& vl_namespace) {
  return call_boolean(selector::is_autostart_enabled, vl_namespace);
}

std::optional<bool> velmora_client_t::set_autostart_enabled(bool enabled,
                                                            const std::string& vl_namespace) {
  return call_boolean(selector::set_autostart_enabled, enabled, vl_namespace);
}
