#include <array>

#include "install/launchd_plist.h"
#include "platform/foundation/creation_mark.h"
#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"
#include "system/external_commands.h"

namespace fm = platform::file_manager;
namespace marks = platform::creation_mark;

namespace {

constexpr std::string_view global_trace_format = "/var/log/%@.trace";
constexpr const char* global_config_root = "/etc";

// Created private; the permissions the flow gives come after.
constexpr mode_t created_mode = 0700;

const std::vector<std::string> required_config_files = {"system.conf", "service.conf"};
constexpr std::array<const char*, 3> copied_config_files = {"system.conf", "service.conf",
                                                            "connection_trace.txt"};

}  // namespace

bool helper_tool_t::_verifyDir(const std::string& dir, const std::vector<std::string>& names) {
  for (const auto& name : names) {
    if (!fm::fileExistsAtPath(fm::stringByAppendingPathComponent(dir, name))) return false;
  }
  return true;
}

// A namespace names an entry of /var/log and of /etc, which hold the system's own files (and,
// for the namespace "velmora", the helper's own trace). Only what the service created for a
// namespace is opened to other users; anything else is left as it is.
void helper_tool_t::_createGlobalTraceIfNeedFor(const std::string& vl_namespace) {
  const auto path = launchd_plist::stringWithFormat(global_trace_format, vl_namespace);
  const marks::found_t found = marks::fileAt(path);
  if (found == marks::found_t::absent) {
    trace_info(trace(), "Creating global trace file..");
    if (!marks::createMarkedFile(path, created_mode)) {
      trace_error(trace(), "Can't create %s", path.c_str());
      return;
    }
  } else if (found == marks::found_t::foreign) {
    trace_warning(trace(), "Not a global trace file of Velmora: %s. Left as it is.", path.c_str());
    return;
  }
  // Every user's instance of the application writes this file.
  ExternalCommands::chmod(path, "666", false);
}

namespace {

// False when the folder is not the service's own: it could not be made, or something else is
// there already.
bool claimGlobalConfigDirectory(helper_tool_t& tool, const std::string& global_dir) {
  const marks::found_t found = marks::directoryAt(global_dir);
  if (found == marks::found_t::absent && !marks::createMarkedDirectory(global_dir, created_mode)) {
    trace_error(tool.trace(), "Can't create %s", global_dir.c_str());
    return false;
  }
  if (found == marks::found_t::foreign) {
    trace_warning(tool.trace(), "Not a global config folder of Velmora: %s. Left as it is.",
                  global_dir.c_str());
    return false;
  }
  return true;
}

}  // namespace

void helper_tool_t::_copyGlobalConfigFrom(const std::string& source_dir,
                                          const std::string& vl_namespace) {
  trace_info(trace(), "Creating global config..");
  const auto global_dir = fm::stringByAppendingPathComponent(global_config_root, vl_namespace);
  if (!claimGlobalConfigDirectory(*this, global_dir)) return;

  if (_verifyDir(global_dir, required_config_files)) {
    trace_warning(trace(), "global config files already exists. Skipping.");
  } else if (_verifyDir(source_dir, required_config_files)) {
    // Each copy stands alone: one that fails (missing source, existing destination) is skipped.
    for (const char* name : copied_config_files) {
      fm::copyItemAtPath(fm::stringByAppendingPathComponent(source_dir, name),
                         fm::stringByAppendingPathComponent(global_dir, name), nullptr);
    }
  } else {
    trace_info(trace(), "local config incomplete. Skipping.");
  }

  trace_info(trace(), "Correcting permissions..");
  ExternalCommands::chmod(global_dir, "775", true);
  ExternalCommands::chown(global_dir, "root", "staff", true);
}
