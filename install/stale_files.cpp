#include "install/stale_files.h"

#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"

namespace fm = platform::file_manager;

namespace stale_files {

void run(helper_tool_t& tool, const sweep_t& sweep, std::string_view kept_name) {
  for (const auto& path : tool.resolveFilesInDirectory(sweep.directory, sweep.wildcard)) {
    if (!kept_name.empty() && fm::lastPathComponent(path).find(kept_name) != std::string::npos) {
      continue;
    }
    trace_info(tool.trace(), sweep.deleting_line, path.c_str());
    std::string error;
    if (!fm::removeItemAtPath(path, &error) && sweep.failure_line != nullptr) {
      trace_warning(tool.trace(), sweep.failure_line, path.c_str());
    }
  }
}

}  // namespace stale_files
