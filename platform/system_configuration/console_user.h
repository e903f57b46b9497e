#pragma once

#include <optional>
#include <string>

namespace platform {

// The name of the user at the console: the active session's user on seat0. Nothing when there
// is no seat, no active session or no name for its user.
std::optional<std::string> SCDynamicStoreCopyConsoleUser();

}  // namespace platform
