// Process entry of the privileged helper: trace placement, then the service object until idle.
#include <cerrno>
#include <cstdlib>

#include "platform/foundation/bundle.h"
#include "platform/foundation/open_files_limit.h"
#include "service/helper_tool.h"
#include "service/trace_placement.h"
#include "trace/trace.h"

int main() {
  static trace_file_t record;
  trace_publish(&record);

  choose_trace_directory();
  trace_use_path(join("velmora.trace"));
  trace_set_component("helper");

  trace_t trace("main");
  const std::string version =
      platform::bundle_t::mainBundle().stringForInfoDictionaryKey("CFBundleVersion").value_or("");
  trace_info(trace, "%s helper %s started", "velmora", version.c_str());
  if (!platform::open_files_limit::raise_soft_limit_to_hard()) {
    trace_warning(trace, "cannot raise the open files limit (%d)", errno);
  }

  // Never released: the detached open-files check may still be using it when run returns.
  static helper_tool_t service;
  service.run();

  trace_info(trace, "helper stopped");
  std::quick_exit(EXIT_SUCCESS);
}
