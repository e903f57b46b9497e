// System tuning requests: launchd's open-files limit and the kernel's dark-wake mode.

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/open_files_limit.h"
#include "service/helper_tool.h"
#include "system/external_commands.h"
#include "system/text_components.h"

namespace {

// A limit as %d shows it: its low 32 bits read as a signed number, so "no limit" shows as -1.
std::int32_t as_int(rlim_t limit) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(limit & 0xFFFFFFFFu));
}

// The number that sysctl prints between "debug.darkwake:" and the one "->": the mode before
// the change. Nothing when the output is missing, malformed or that number is -1.
std::optional<std::int32_t> previous_darkwake_mode(const std::optional<std::string>& output) {
  static constexpr std::string_view name = "debug.darkwake:";
  static constexpr std::string_view arrow = "->";
  if (!output) return std::nullopt;
  const std::size_t found = output->find(name);
  if (found == std::string::npos) return std::nullopt;

  const std::string_view rest = std::string_view(*output).substr(found + name.size());
  const std::size_t first_arrow = rest.find(arrow);
  const bool two_pieces = first_arrow != std::string_view::npos &&
                          rest.find(arrow, first_arrow + arrow.size()) == std::string_view::npos;
  if (!two_pieces) return std::nullopt;

  const std::int32_t previous = int_value(rest.substr(0, first_arrow));
  if (previous == -1) return std::nullopt;
  return previous;
}

}  // namespace

void helper_tool_t::fixOSMaxFilesIfNeedAndReply(bool_reply_t reply) {
  rlimit limit{};
  if (platform::open_files_limit::read(&limit) != 0) {
    trace_warning(_trace, "Can't get RLIMIT_NOFILE (%d)", errno);
  } else {
    trace_info(_trace, "os maxfiles values %d : %d", as_int(limit.rlim_cur),
               as_int(limit.rlim_max));
    if (limit.rlim_max != platform::open_files_limit::unlimited) {
      trace_warning(_trace, "os maxfiles seems to be modified by 3rd party software");
      if (limit.rlim_cur < 1024) {
        trace_warning(_trace, "Adjusting macOS settings (launchctl limit maxfiles)..");
        _hackOSMaxFiles();
      }
    }
  }
  if (reply) std::move(reply)(true);
}

int helper_tool_t::_hackOSMaxFiles() {
  return ExternalCommands::limit_maxfiles(65536, 1000000);
}

void helper_tool_t::set_darkwake_mode(std::int32_t mode, int_reply_t reply) {
  const auto previous = previous_darkwake_mode(ExternalCommands::set_darkwake_mode(mode));
  if (!previous) trace_error(_trace, "setting darkwake mode failed");
  if (reply) std::move(reply)(previous.value_or(-1));
}
