#pragma once

#include <string_view>

// The full selector texts of the remote protocol; the dispatch table and the rights table use
// them as keys, and a privileged handler passes its own to the authorization check.
namespace selector {

inline constexpr std::string_view get_version = "get_version_with_reply:";
inline constexpr std::string_view install_velmora_service =
    "install_velmora_service_with:for_namespace:user_config:reply:";
inline constexpr std::string_view install_velmora =
    "install_velmora_with_auth_data:with_bundle_path:with_sysconfig_path:with_vl_namespace:"
    "with_user_name:with_reply:";
inline constexpr std::string_view uninstall_velmora =
    "uninstall_velmora_with_auth_data:with_bundle_path:with_sysconfig_path:with_vl_namespace:"
    "with_user_name:with_reply:";
inline constexpr std::string_view fix_os_max_files = "fixOSMaxFilesIfNeedAndReply:";
inline constexpr std::string_view restart_velmora = "restart_velmora_with_bundle_path:and_reply:";
inline constexpr std::string_view reboot_computer = "reboot_computer_with_reply:";
inline constexpr std::string_view start_service = "start_service_with_namespace:with_reply:";
inline constexpr std::string_view is_service_installed =
    "is_service_installed_with_namespace:with_reply:";
inline constexpr std::string_view is_service_disabled =
    "is_service_disabled_with_namespace:with_reply:";
inline constexpr std::string_view is_service_run_at_load =
    "is_service_run_at_load_with_namespace:with_reply:";
inline constexpr std::string_view set_tray_enabled =
    "set_tray_enabled:with_enabled:with_bundle_path:with_reply:";
inline constexpr std::string_view quit_service = "quit_service:with_reply:";
inline constexpr std::string_view check_global_settings_auth = "check_global_settings_auth:reply:";
inline constexpr std::string_view set_darkwake_mode = "set_darkwake_mode:reply:";
inline constexpr std::string_view is_autostart_enabled = "isAutostartEnabledForNamespace:reply:";
inline constexpr std::string_view set_autostart_enabled = "setAutostartEnabled:forNamespace:reply:";

}  // namespace selector
