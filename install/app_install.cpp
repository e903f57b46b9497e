#include <chrono>
#include <optional>
#include <thread>

#include "install/app_bundle.h"
#include "install/launchd_plist.h"
#include "install/request_admission.h"
#include "install/stale_files.h"
#include "platform/foundation/file_attributes.h"
#include "platform/foundation/file_manager.h"
#include "platform/foundation/process_info.h"
#include "service/helper_tool.h"
#include "service/selectors.h"
#include "system/external_commands.h"

namespace fm = platform::file_manager;

namespace {

constexpr const char* install_directory = "/Applications";
constexpr const char* log_directory = "/var/log";
constexpr auto agent_stop_pause = std::chrono::duration<double>(1.0);

struct launchd_names_t {
  std::string service_label;
  std::string service_plist;
  std::string agent_label;
  std::string agent_plist;
};

launchd_names_t launchdNames(const std::string& vl_namespace) {
  return {launchd_plist::service_label(vl_namespace),
          launchd_plist::service_plist_path(vl_namespace), launchd_plist::agent_label(vl_namespace),
          launchd_plist::agent_plist_path(vl_namespace)};
}

// The copy keeps a link as a link. A bundle that is a link would have the recursive chmod and
// chown that follow act on whatever it points to (chmod follows a link named on its command
// line), so such a copy is taken back and counted as failed.
bool copyBundle(const std::string& bundle_path, const std::string& installed_bundle,
                std::string& error) {
  if (!fm::copyItemAtPath(bundle_path, installed_bundle, &error)) return false;
  if (!platform::file_attributes::isSymbolicLinkAtPath(installed_bundle)) return true;
  fm::removeItemAtPath(installed_bundle, nullptr);
  error = "\u201c" + fm::lastPathComponent(bundle_path) +
          "\u201d couldn\u2019t be copied because it is a symbolic link, not a bundle folder.";
  return false;
}

// The private folder beside the installed bundle that the new bundle is prepared in; removed,
// with whatever it then holds (a failed copy, or the bundle it replaced), when it goes.
class staging_folder_t {
 public:
  explicit staging_folder_t(std::string path) : path_(std::move(path)) {}
  staging_folder_t(const staging_folder_t&) = delete;
  staging_folder_t& operator=(const staging_folder_t&) = delete;
  ~staging_folder_t() { fm::removeItemAtPath(path_, nullptr); }

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Quits the running application, copies the bundle, hands it to root and replaces the
// installed one. False when the bundle could not be replaced. The copy is made in a folder only
// root can enter and swapped in whole once it is root's, so nobody can open a file of it for
// writing on the way, and a copy that fails (a full disk) leaves the installed application as it
// was.
bool replaceBundle(helper_tool_t& tool, const std::string& bundle_path,
                   const std::string& installed_bundle) {
  trace_info(tool.trace(), "Quiting Velmora..");
  if (!ExternalCommands::kill_bundle_by_path(installed_bundle)) {
    trace_info(tool.trace(), "No instances to quit or failed");
  }

  trace_info(tool.trace(), "Installing..");
  std::string error;
  const auto staging_path = fm::itemReplacementDirectoryFor(installed_bundle, &error);
  if (!staging_path) {
    trace_error(tool.trace(), "Can't copy app(%s)", error.c_str());
    return false;
  }
  staging_folder_t staging(*staging_path);
  const std::string staged =
      fm::stringByAppendingPathComponent(staging.path(), fm::lastPathComponent(installed_bundle));
  if (!copyBundle(bundle_path, staged, error)) {
    trace_error(tool.trace(), "Can't copy app(%s)", error.c_str());
    return false;
  }

  trace_info(tool.trace(), "CHMODing CHOWNing..");
  ExternalCommands::chmod(staged, "755", true);
  ExternalCommands::chown(staged, "root", "wheel", true);

  const bool replacing = fm::fileExistsAtPath(installed_bundle);
  if (replacing) trace_info(tool.trace(), "Deleting %s", installed_bundle.c_str());
  if (!fm::replaceItemAtPath(installed_bundle, staged, &error)) {
    trace_error(tool.trace(), "Can't copy app(%s)", error.c_str());
    return false;
  }
  // The bundle that was replaced now lies where the copy was made.
  if (replacing && !fm::removeItemAtPath(staged, &error)) {
    trace_error(tool.trace(), "Can't delete app(%s)", error.c_str());
    return false;
  }
  return true;
}

// Checks the source is an application bundle and puts it in /Applications unless it is already
// there. The installed bundle path, or nothing when the request ends here.
std::optional<std::string> placeBundle(helper_tool_t& tool, const std::string& bundle_path) {
  const std::string bundle_name = fm::lastPathComponent(bundle_path);
  if (!app_bundle::hasBundleSuffix(bundle_name)) {
    trace_error(tool.trace(), "Wrong install source. aborted");
    return std::nullopt;
  }
  const std::string installed_bundle =
      fm::stringByAppendingPathComponent(install_directory, bundle_name);

  if (bundle_path.starts_with(install_directory)) {
    trace_warning(tool.trace(), "already installed? skipping");
    return installed_bundle;
  }
  if (!replaceBundle(tool, bundle_path, installed_bundle)) return std::nullopt;
  return installed_bundle;
}

// /var/log, then the namespace's global trace file and configuration.
void provisionNamespace(helper_tool_t& tool, const std::string& sysconfig_path,
                        const std::string& vl_namespace) {
  std::string error;
  if (!fm::createDirectoryAtPath(log_directory, true, &error)) {
    trace_error(tool.trace(), "/var/log can't be created");
  }
  tool._createGlobalTraceIfNeedFor(vl_namespace);
  tool._copyGlobalConfigFrom(sysconfig_path, vl_namespace);
}

// Switches the agent's start at load off, stops and unloads the agent, then the service if its
// list exists; a service that will not stop or unload is only a warning.
void stopOldJobs(helper_tool_t& tool, const launchd_names_t& names) {
  trace_info(tool.trace(), "Configure Launch Services..");
  trace_info(tool.trace(), "Disable global service autostat and stop agent");
  ExternalCommands::set_runatload_service(names.agent_plist, false);
  ExternalCommands::stop_agent(names.agent_label);
  ExternalCommands::unload_agent(names.agent_plist);

  std::this_thread::sleep_for(agent_stop_pause);

  if (!fm::fileExistsAtPath(names.service_plist)) return;
  if (!ExternalCommands::stop_service(names.service_label)) {
    trace_warning(tool.trace(), "failed to stop %s", names.service_label.c_str());
  }
  if (!ExternalCommands::unload_service(names.service_plist)) {
    trace_warning(tool.trace(), "failed to unload %s", names.service_label.c_str());
  }
}

std::string ownName() {
  const auto arguments = platform::process_info::arguments();
  return arguments.empty() ? std::string() : fm::lastPathComponent(arguments.front());
}

// Deletes stale lists and legacy files and writes the service and agent lists anew; each sweep
// runs before the list it could match is written again.
void replacePropertyLists(helper_tool_t& tool, const launchd_names_t& names,
                          const std::string& installed_bundle) {
  stale_files::run(tool, stale_files::service_lists);
  trace_info(tool.trace(), "Installing %s", names.service_plist.c_str());
  const std::string program_path =
      fm::stringByAppendingPathComponent(installed_bundle, app_bundle::program_in_bundle);
  tool._createPlist(names.service_plist,
                    launchd_plist::service_dictionary(names.service_label, program_path).get());

  stale_files::run(tool, stale_files::agent_lists);
  trace_info(tool.trace(), "Installing %s", names.agent_plist.c_str());
  tool._createPlist(
      names.agent_plist,
      launchd_plist::agent_dictionary(names.agent_label, program_path, installed_bundle).get());

  stale_files::run(tool, stale_files::legacy_files);
  stale_files::run(tool, stale_files::helper_lists, ownName());
}

// Removes stale shared memory and starts the installed application.
void cleanUpAndStart(helper_tool_t& tool, const std::string& installed_bundle) {
  trace_info(tool.trace(), "SHM cleanup");
  tool.cleanSharedMemory(string_t("gsystem"));
  tool.cleanSharedMemory(string_t("lsystem"));

  trace_info(tool.trace(), "Starting installed app");
  if (!ExternalCommands::removeOpenWarningFromVelmora(installed_bundle)) {
    trace_warning(tool.trace(), "Can't remove from quarantine");
  }
  if (!ExternalCommands::start_app_at_path(installed_bundle)) {
    trace_warning(tool.trace(), "Can't start app");
  }
}

}  // namespace

void helper_tool_t::install_velmora_with_auth_data(
    const auth_data_t& auth_data, const std::string& bundle_path, const std::string& sysconfig_path,
    const std::string& vl_namespace, const std::string& user_name, bool_reply_t reply) {
  trace_info(trace(), "* Installing Velmora (%s) *", vl_namespace.c_str());
  trace_info(trace(), "* from: %s *", bundle_path.c_str());
  trace_info(trace(), "* sys_conf: %s *", sysconfig_path.c_str());

  // The rights are reset only for an admitted request: a refused one changes nothing, an
  // administrator's rules included.
  if (!install::admit_request(*this, auth_data, selector::install_velmora, "Authorization failed",
                              vl_namespace, {bundle_path, sysconfig_path, user_name}, reply)) {
    return;
  }
  _resetAuthDB();

  const auto installed_bundle = placeBundle(*this, bundle_path);
  if (!installed_bundle) {
    std::move(reply)(false);
    return;
  }

  provisionNamespace(*this, sysconfig_path, vl_namespace);
  const launchd_names_t names = launchdNames(vl_namespace);
  stopOldJobs(*this, names);
  replacePropertyLists(*this, names, *installed_bundle);
  cleanUpAndStart(*this, *installed_bundle);

  trace_info(trace(), "** Installation finished **");
  std::move(reply)(true);
}
