#include "install/launchd_plist.h"
#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"
#include "system/external_commands.h"

void helper_tool_t::reboot_computer_with_reply(bool_reply_t reply) {
  std::move(reply)(ExternalCommands::force_reboot());
}

void helper_tool_t::start_service_with_namespace(const std::string& vl_namespace,
                                                 bool_reply_t reply) {
  if (!_validateVLNamespace(vl_namespace)) {
    std::move(reply)(false);
    return;
  }
  const auto label = launchd_plist::service_label(vl_namespace);
  const auto path = launchd_plist::service_plist_path(vl_namespace);
  trace_info(trace(), "Trying to launch: %s (%s).", label.c_str(), path.c_str());

  // launchd refuses to load a disabled job; the load is tried even if re-enabling fails.
  if (ExternalCommands::is_service_disabled(path)) {
    trace_warning(trace(), "%s is disabled.", path.c_str());
    ExternalCommands::set_enable_service(path, true);
  }
  const bool loaded = ExternalCommands::load_service(path);
  const bool atLoad = ExternalCommands::is_service_run_at_load(path);
  // A job that runs at load was started by the load itself; any other needs an explicit start.
  if (!atLoad && loaded) {
    std::move(reply)(ExternalCommands::start_service(label));
    return;
  }
  std::move(reply)(loaded);
}

// The queries accept any namespace: they only read the path it names.
void helper_tool_t::is_service_installed_with_namespace(const std::string& vl_namespace,
                                                        bool_reply_t reply) {
  std::move(reply)(
      platform::file_manager::fileExistsAtPath(launchd_plist::service_plist_path(vl_namespace)));
}

void helper_tool_t::is_service_disabled_with_namespace(const std::string& vl_namespace,
                                                       bool_reply_t reply) {
  std::move(reply)(
      ExternalCommands::is_service_disabled(launchd_plist::service_plist_path(vl_namespace)));
}

void helper_tool_t::is_service_run_at_load_with_namespace(const std::string& vl_namespace,
                                                          bool_reply_t reply) {
  std::move(reply)(
      ExternalCommands::is_service_run_at_load(launchd_plist::service_plist_path(vl_namespace)));
}

void helper_tool_t::isAutostartEnabledForNamespace(const std::string& vl_namespace,
                                                   bool_reply_t reply) {
  std::move(reply)(
      ExternalCommands::is_service_run_at_load(launchd_plist::agent_plist_path(vl_namespace)));
}

// Takes effect at the jobs' next load; nothing is loaded or started here.
void helper_tool_t::setAutostartEnabled(bool enabled, const std::string& vl_namespace,
                                        bool_reply_t reply) {
  if (!_validateVLNamespace(vl_namespace)) {
    std::move(reply)(false);
    return;
  }
  ExternalCommands::set_runatload_service(launchd_plist::agent_plist_path(vl_namespace), enabled);
  ExternalCommands::set_runatload_service(launchd_plist::service_plist_path(vl_namespace), enabled);
  std::move(reply)(true);
}

// Accepted for the client's sake; the tray is the application's own business.
void helper_tool_t::set_tray_enabled(const std::string& /*tray*/, bool /*enabled*/,
                                     const std::string& /*bundle_path*/, bool_reply_t reply) {
  std::move(reply)(true);
}

void helper_tool_t::quit_service(const std::string& vl_namespace, bool_reply_t reply) {
  if (!_validateVLNamespace(vl_namespace)) {
    std::move(reply)(false);
    return;
  }
  ExternalCommands::stop_service(launchd_plist::service_label(vl_namespace));
  std::move(reply)(true);
}
