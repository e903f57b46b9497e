#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/foundation/property_list.h"
#include "platform/xpc/wire.h"

// A connection to the helper: connects, waits until the helper has accepted the client, then
// makes one synchronous call per operation. A call answers nothing once the connection has ended
// (the helper refused a request or went away); the connection is not used after that.
class velmora_client_t {
 public:
  enum class connect_status_t { accepted, unreachable, refused };

  // The socket of the helper's service name.
  static std::string default_socket_path();

  // Connects and waits for the acceptance; *status (when given) says why nothing came back.
  static std::optional<velmora_client_t> connect(const std::string& socket_path,
                                                 connect_status_t* status);
  // The same over a stream that is already connected, for instance to a relay process.
  static std::optional<velmora_client_t> accepted_on(platform::unique_fd_t stream,
                                                     connect_status_t* status);

  using auth_t = std::vector<std::uint8_t>;

  std::optional<std::string> get_version();
  std::optional<bool> install_velmora_service(const auth_t& auth, const std::string& vl_namespace,
                                              const std::string& user_config);
  std::optional<bool> install_velmora(const auth_t& auth, const std::string& bundle_path,
                                      const std::string& sysconfig_path,
                                      const std::string& vl_namespace,
                                      const std::string& user_name);
  std::optional<bool> uninstall_velmora(const auth_t& auth, const std::string& bundle_path,
                                        const std::string& sysconfig_path,
                                        const std::string& vl_namespace,
                                        const std::string& user_name);
  std::optional<bool> fix_os_max_files();
  std::optional<bool> restart_velmora(const std::string& bundle_path);
  std::optional<bool> reboot_computer();
  std::optional<bool> start_service(const std::string& vl_namespace);
  std::optional<bool> is_service_installed(const std::string& vl_namespace);
  std::optional<bool> is_service_disabled(const std::string& vl_namespace);
  std::optional<bool> is_service_run_at_load(const std::string& vl_namespace);
  std::optional<bool> set_tray_enabled(const std::string& tray, bool enabled,
                                       const std::string& bundle_path);
  std::optional<bool> quit_service(const std::string& vl_namespace);
  std::optional<bool> check_global_settings_auth(const auth_t& auth);
  std::optional<std::int32_t> set_darkwake_mode(std::int32_t mode);
  std::optional<bool> is_autostart_enabled(const std::string& vl_namespace);
  std::optional<bool> set_autostart_enabled(bool enabled, const std::string& vl_namespace);

  // One request with arguments already in property-list form; the reply value, or nothing when
  // the connection ended.
  platform::property_list::plist_ptr_t call(std::string_view selector,
                                            std::vector<platform::property_list::plist_ptr_t> args);

  int socket() const { return socket_.get(); }

 private:
  explicit velmora_client_t(platform::unique_fd_t socket)
      : socket_(std::move(socket)), reader_(socket_.get(), {}) {}

  template <typename... values_t>
  std::optional<bool> call_boolean(std::string_view selector, const values_t&... values);

  platform::unique_fd_t socket_;
  platform::xpc_wire::frame_reader_t reader_;
  std::uint64_t next_seq_ = 1;
};
