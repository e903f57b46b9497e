#include "install/app_bundle.h"
#include "install/launchd_plist.h"
#include "install/request_admission.h"
#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"
#include "service/selectors.h"
#include "system/external_commands.h"

namespace {

// The service install always serves the application in its standard place, wherever the
// requesting copy was started from.
constexpr const char* application_bundle = "/Applications/Velmora.app";

}  // namespace

void helper_tool_t::install_velmora_service_with(const auth_data_t& auth_data,
                                                 const std::string& vl_namespace,
                                                 const std::string& user_config,
                                                 bool_reply_t reply) {
  trace_info(trace(), "* Installing Velmora Services (%s) *", vl_namespace.c_str());
  if (!install::admit_request(*this, auth_data, selector::install_velmora_service,
                              "Authorization failed", vl_namespace, {user_config}, reply)) {
    return;
  }

  _createGlobalTraceIfNeedFor(vl_namespace);

  const auto service_label = launchd_plist::service_label(vl_namespace);
  const auto service_path = launchd_plist::service_plist_path(vl_namespace);
  trace_info(trace(), "Installing %s", service_path.c_str());
  const auto program_path = platform::file_manager::stringByAppendingPathComponent(
      application_bundle, app_bundle::program_in_bundle);
  _createPlist(service_path, launchd_plist::service_dictionary(service_label, program_path).get());

  const auto agent_label = launchd_plist::agent_label(vl_namespace);
  const auto agent_path = launchd_plist::agent_plist_path(vl_namespace);
  trace_info(trace(), "Installing %s", agent_path.c_str());
  _createPlist(agent_path, launchd_plist::agent_dictionary(agent_label, program_path).get());

  _copyGlobalConfigFrom(user_config, vl_namespace);

  ExternalCommands::chmod(application_bundle, "755", true);
  ExternalCommands::chown(application_bundle, "root", "wheel", true);

  ExternalCommands::kill_bundle_by_path(application_bundle);
  ExternalCommands::start_app_at_path(application_bundle);

  trace_info(trace(), "** Service installation finished **");
  std::move(reply)(true);
}
