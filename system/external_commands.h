#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The service's one door to the system's command-line tools and to the "Disabled" and
// "RunAtLoad" flags of launchd property lists. No instances, no state.
class ExternalCommands {
 public:
  ExternalCommands() = delete;

  static bool detect_sleep_proxy(int timeout_seconds);
  static bool ejectVelmoraDMG(const std::string& image);
  static std::optional<std::vector<std::string>> processes_by_path(const std::string& path);
  static bool kill_bundle_by_path(const std::string& bundle_path);
  // Set when the tool's exit status is not 0; no caller reads it.
  static bool chmod(const std::string& path, const std::string& permissions, bool recursively);
  static bool chown(const std::string& path, const std::string& owner, const std::string& group,
                    bool recursively);
  static bool start_app_at_path(const std::string& bundle_path);
  static bool removeOpenWarningFromVelmora(const std::string& path);
  static void relaunchVelmora();
  static bool unload_service(const std::string& plist_path);
  static bool load_service(const std::string& plist_path);
  static bool stop_service(const std::string& label);
  static bool start_service(const std::string& label);
  static bool remove_authorization(const std::string& right);
  static bool unload_agent(const std::string& plist_path);
  static bool load_agent(const std::string& plist_path);
  static bool stop_agent(const std::string& label);
  static bool force_reboot();
  // Sets launchd's open-files limit for the jobs it starts; the tool's exit status.
  static int limit_maxfiles(int soft, int hard);
  // Sets the kernel's dark-wake mode; the tool's output, nothing when it failed.
  static std::optional<std::string> set_darkwake_mode(std::int32_t mode);
  static bool is_service_disabled(const std::string& plist_path);
  static bool is_service_run_at_load(const std::string& plist_path);
  static bool set_enable_service(const std::string& plist_path, bool enable);
  static bool set_runatload_service(const std::string& plist_path, bool run_at_load);
};
