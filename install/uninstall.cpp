#include <algorithm>
#include <vector>

#include "install/app_bundle.h"
#include "install/launchd_plist.h"
#include "install/request_admission.h"
#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"
#include "service/selectors.h"
#include "system/external_commands.h"

namespace fm = platform::file_manager;

namespace {

constexpr const char* namespace_wildcard_format = "com.corvantix.%@.*";
constexpr const char* agents_directory = "/Library/LaunchAgents/";
constexpr const char* daemons_directory = "/Library/LaunchDaemons/";
constexpr const char* helper_executable_format =
    "/Library/PrivilegedHelperTools/com.corvantix.%@.Helper";
constexpr const char* helper_plist_format = "/Library/LaunchDaemons/com.corvantix.%@.Helper.plist";

// The privileged service's own files spell the namespace with dashes.
std::string dashedNamespace(std::string vl_namespace) {
  std::replace(vl_namespace.begin(), vl_namespace.end(), '_', '-');
  return vl_namespace;
}

// Built whole before anything is deleted; a path may stand twice.
std::vector<std::string> deletionList(helper_tool_t& tool, const std::string& vl_namespace) {
  const std::string wildcard =
      launchd_plist::stringWithFormat(namespace_wildcard_format, vl_namespace);
  std::vector<std::string> paths = tool.resolveFilesInDirectory(agents_directory, wildcard);
  const auto daemons = tool.resolveFilesInDirectory(daemons_directory, wildcard);
  paths.insert(paths.end(), daemons.begin(), daemons.end());
  const std::string dashed = dashedNamespace(vl_namespace);
  paths.push_back(launchd_plist::stringWithFormat(helper_executable_format, dashed));
  paths.push_back(launchd_plist::stringWithFormat(helper_plist_format, dashed));
  return paths;
}

void deleteFiles(helper_tool_t& tool, const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    trace_info(tool.trace(), "Deleting Files %s", path.c_str());
    if (!fm::removeItemAtPath(path, nullptr))
      trace_warning(tool.trace(), "Can't delete %s", path.c_str());
  }
}

}  // namespace

void helper_tool_t::uninstall_velmora_with_auth_data(
    const auth_data_t& auth_data, const std::string& bundle_path, const std::string& sysconfig_path,
    const std::string& vl_namespace, const std::string& user_name, bool_reply_t reply) {
  trace_info(trace(), "Uninstalling %s..", bundle_path.c_str());
  if (!install::admit_request(*this, auth_data, selector::uninstall_velmora,
                              "Authorization failed. Uninstall aborted", vl_namespace,
                              {bundle_path, sysconfig_path, user_name}, reply)) {
    return;
  }

  deleteFiles(*this, deletionList(*this, vl_namespace));

  if (!app_bundle::hasBundleSuffix(fm::lastPathComponent(bundle_path))) {
    trace_error(trace(), "Wrong install source. aborted");
    std::move(reply)(false);
    return;
  }

  trace_info(trace(), "Velmora Files deleted");
  ExternalCommands::kill_bundle_by_path(bundle_path);

  std::string error;
  if (!fm::removeItemAtPath(bundle_path, &error)) {
    trace_error(trace(), "Can't delete app(%s)", error.c_str());
    std::move(reply)(false);
    return;
  }

  _resetAuthDB();
  trace_info(trace(), "Velmora uninstalled.");
  std::move(reply)(true);
}
