// Process entry of the privileged helper: trace placement, then the service object until idle.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/base/command_line.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/open_files_limit.h"
#include "service/helper_tool.h"
#include "service/trace_placement.h"
#include "trace/trace.h"

namespace {

constexpr std::string_view usage_text =
    "usage: com.corvantix.velmora-vl-5e3a07c4.Helper\n"
    "The Velmora privileged helper; systemd starts it on demand through its socket. It takes no\n"
    "arguments.\n";

// The daemon takes no arguments: "--help" is answered, anything else is refused before the trace
// file or the socket is touched.
std::optional<int> check_arguments(int argc, char** argv) {
  const platform::command_line::syntax_t syntax{usage_text};
  if (const auto status = platform::command_line::check(argc, argv, syntax)) return status;
  if (argc <= 1) return std::nullopt;
  std::fprintf(stderr, "%s: unexpected argument %s\n", argv[0], argv[1]);
  return platform::command_line::print_usage(syntax, stderr, platform::command_line::exit_usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = check_arguments(argc, argv)) return *status;
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
