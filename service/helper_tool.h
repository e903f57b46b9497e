#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/once_callback.h"
#include "platform/base/os_status.h"
#include "trace/string.h"
#include "trace/trace.h"

namespace platform {
class xpc_listener_t;
class xpc_connection_t;
}  // namespace platform

// Authorization data as the client sends it: the 32-byte external form, or nothing.
using auth_data_t = std::optional<std::vector<std::uint8_t>>;

// Reply blocks: a handler owns its block and calls it exactly once, which consumes it.
using bool_reply_t = platform::once_callback_t<void(bool)>;
using string_reply_t = platform::once_callback_t<void(const std::string&)>;
using int_reply_t = platform::once_callback_t<void(std::int32_t)>;

// The one service object. Every request handler is a method of it; each subsystem folder
// defines the handlers it owns.
class helper_tool_t {
 public:
  helper_tool_t();
  helper_tool_t(const helper_tool_t&) = delete;
  helper_tool_t& operator=(const helper_tool_t&) = delete;
  ~helper_tool_t();

  // service/
  void run();
  bool listener_shouldAcceptNewConnection(platform::xpc_listener_t& listener,
                                          const std::shared_ptr<platform::xpc_connection_t>& conn);
  void get_version_with_reply(string_reply_t reply);

  // install/
  void install_velmora_service_with(const auth_data_t& auth_data, const std::string& vl_namespace,
                                    const std::string& user_config, bool_reply_t reply);
  void install_velmora_with_auth_data(const auth_data_t& auth_data, const std::string& bundle_path,
                                      const std::string& sysconfig_path,
                                      const std::string& vl_namespace, const std::string& user_name,
                                      bool_reply_t reply);
  void uninstall_velmora_with_auth_data(const auth_data_t& auth_data,
                                        const std::string& bundle_path,
                                        const std::string& sysconfig_path,
                                        const std::string& vl_namespace,
                                        const std::string& user_name, bool_reply_t reply);

  // control/
  void fixOSMaxFilesIfNeedAndReply(bool_reply_t reply);  // an empty reply: no block
  void reboot_computer_with_reply(bool_reply_t reply);
  void start_service_with_namespace(const std::string& vl_namespace, bool_reply_t reply);
  void is_service_installed_with_namespace(const std::string& vl_namespace, bool_reply_t reply);
  void is_service_disabled_with_namespace(const std::string& vl_namespace, bool_reply_t reply);
  void is_service_run_at_load_with_namespace(const std::string& vl_namespace, bool_reply_t reply);
  void set_tray_enabled(const std::string& tray, bool enabled, const std::string& bundle_path,
                        bool_reply_t reply);
  void quit_service(const std::string& vl_namespace, bool_reply_t reply);
  void set_darkwake_mode(std::int32_t mode, int_reply_t reply);
  void isAutostartEnabledForNamespace(const std::string& vl_namespace, bool_reply_t reply);
  void setAutostartEnabled(bool enabled, const std::string& vl_namespace, bool_reply_t reply);

  // authorization/
  void check_global_settings_auth(const auth_data_t& auth_data, bool_reply_t reply);
  std::optional<platform::os_status_error_t> check_authorization(const auth_data_t& auth_data,
                                                                 std::string_view command);
  void _resetAuthDB();

  // install/: operations the install and control requests share
  bool _validateVLNamespace(const std::string& vl_namespace);
  bool _verifyDir(const std::string& dir, const std::vector<std::string>& names);
  void _createGlobalTraceIfNeedFor(const std::string& vl_namespace);
  void _copyGlobalConfigFrom(const std::string& source_dir, const std::string& vl_namespace);
  void _createPlist(const std::string& path, plist_t dictionary);
  std::vector<std::string> resolveFilesInDirectory(const std::string& dir,
                                                   const std::string& wildcard);
  void cleanSharedMemory(string_t channel);

  // control/
  int _hackOSMaxFiles();

  trace_t& trace() { return _trace; }

 private:
  void on_invalidated(const std::shared_ptr<platform::xpc_connection_t>& conn);

  trace_t _trace{"helper_tool"};
  std::unique_ptr<platform::xpc_listener_t> _listener;

  // Shared by the accept path, the invalidation handlers and the idle test.
  std::mutex _state_lock;
  bool _canQuit = false;
  std::vector<std::shared_ptr<platform::xpc_connection_t>> _activeConnections;
  double _lastAccess = 0.0;
};
