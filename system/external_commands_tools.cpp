// The wrappers that run one system tool with a fixed argument vector.

#include "platform/appkit/workspace.h"
#include "platform/foundation/main_bundle_path.h"
#include "system/external_commands.h"
#include "system/task_shell_extensions.h"

namespace {

bool exits_with_success(const std::string& tool, const std::vector<std::string>& args) {
  return syncExec(tool, args) == 0;
}

// The arguments, with "-R" in front when recursively.
std::vector<std::string> maybe_recursive(bool recursively, std::vector<std::string> args) {
  if (recursively) args.insert(args.begin(), "-R");
  return args;
}

}  // namespace

bool ExternalCommands::ejectVelmoraDMG(const std::string& image) {
  return exits_with_success("/usr/bin/hdiutil", {"detach", image});
}

bool ExternalCommands::chmod(const std::string& path, const std::string& permissions,
                             bool recursively) {
  return syncExec("/bin/chmod", maybe_recursive(recursively, {permissions, path})) != 0;
}

bool ExternalCommands::chown(const std::string& path, const std::string& owner,
                             const std::string& group, bool recursively) {
  return syncExec("/usr/sbin/chown", maybe_recursive(recursively, {owner + ":" + group, path})) !=
         0;
}

bool ExternalCommands::start_app_at_path(const std::string& bundle_path) {
  return platform::workspace::launchApplication(bundle_path);
}

bool ExternalCommands::removeOpenWarningFromVelmora(const std::string& path) {
  return exits_with_success("/usr/bin/xattr", {"-d", "-r", "com.apple.quarantine", path});
}

void ExternalCommands::relaunchVelmora() {
  // The bundle path reaches the shell as a positional parameter, never as command text.
  platform::task_t task("/bin/sh", {"-c", "open -n \"$1\"", "sh", platform::main_bundle_path()});
  task.launch();
}

bool ExternalCommands::unload_service(const std::string& plist_path) {
  return exits_with_success("/bin/launchctl", {"unload", plist_path});
}

bool ExternalCommands::load_service(const std::string& plist_path) {
  return exits_with_success("/bin/launchctl", {"load", plist_path});
}

bool ExternalCommands::stop_service(const std::string& label) {
  return exits_with_success("/bin/launchctl", {"stop", label});
}

bool ExternalCommands::start_service(const std::string& label) {
  return exits_with_success("/bin/launchctl", {"start", label});
}

int ExternalCommands::limit_maxfiles(int soft, int hard) {
  return syncExec("/bin/launchctl",
                  {"limit", "maxfiles", std::to_string(soft), std::to_string(hard)});
}

std::optional<std::string> ExternalCommands::set_darkwake_mode(std::int32_t mode) {
  platform::task_t task("/usr/sbin/sysctl", {"debug.darkwake=" + std::to_string(mode)});
  return syncStdOutExecute(task);
}

bool ExternalCommands::remove_authorization(const std::string& right) {
  return exits_with_success("/usr/bin/security", {"authorizationdb", "remove", right});
}

bool ExternalCommands::unload_agent(const std::string& plist_path) {
  return unload_service(plist_path);
}

bool ExternalCommands::load_agent(const std::string& plist_path) {
  return load_service(plist_path);
}

bool ExternalCommands::stop_agent(const std::string& label) {
  return stop_service(label);
}

bool ExternalCommands::force_reboot() {
  return exits_with_success("/sbin/reboot", {});
}
