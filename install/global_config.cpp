#include <array>

#include "install/launchd_plist.h"
#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"
#include "system/external_commands.h"

namespace fm = platform::file_manager;

namespace {

constexpr std::string_view global_trace_format = "/var/log/%@.trace";
constexpr const char* global_config_root = "/etc";

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

void helper_tool_t::_createGlobalTraceIfNeedFor(const std::string& vl_namespace) {
  const auto path = launchd_plist::stringWithFormat(global_trace_format, vl_namespace);
  if (!fm::fileExistsAtPath(path)) {
    trace_info(trace(), "Creating global trace file..");
    if (!fm::createFileAtPath(path)) trace_error(trace(), "Can't create %s", path.c_str());
  }
  // Every user's instance of the application writes this file.
  ExternalCommands::chmod(path, "666", false);
}

void helper_tool_t::_copyGlobalConfigFrom(const std::string& source_dir,
                                          const std::string& vl_namespace) {
  trace_info(trace(), "Creating global config..");
  const auto global_dir = fm::stringByAppendingPathComponent(global_config_root, vl_namespace);
  if (!fm::createDirectoryAtPath(global_dir, true, nullptr)) {
    trace_error(trace(), "Can't create %s", global_dir.c_str());
  }

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
