#pragma once

#include <string>
#include <string_view>

class helper_tool_t;

// What older installations leave behind, found by wildcard and deleted during an install.
namespace stale_files {

struct sweep_t {
  const char* directory;
  const char* wildcard;
  const char* deleting_line;  // info, before each delete
  const char* failure_line;   // warning; nullptr when the result is not looked at
};

// In the order the install runs them.
inline constexpr sweep_t service_lists{"/Library/LaunchDaemons",
                                       "com.corvantix.velmora*.service.plist",
                                       "Deleting Service file %s", "Can't delete %s"};
inline constexpr sweep_t agent_lists{"/Library/LaunchAgents",
                                     "com.corvantix.velmora*.Frontend.plist",
                                     "Deleting Agent file %s", "Can't delete %s"};
inline constexpr sweep_t legacy_files{"/usr/local/bin/", "vlwrap_velmora*", "Deleting legacy %s",
                                      "Can't delete %s"};
inline constexpr sweep_t helper_lists{
    "/Library/LaunchDaemons", "com.corvantix.velmora*.Helper.plist", "Deleting plist %s", nullptr};

// Deletes every match, except those whose last path component contains kept_name (when it is
// not empty); a failed delete does not stop the sweep.
void run(helper_tool_t& tool, const sweep_t& sweep, std::string_view kept_name = {});

}  // namespace stale_files
