#pragma once

#include <optional>
#include <string>

// The answers the agent gives, one line per run, from a file the test writes:
//   "USER PASSWORD"  print the user name and the password
//   "cancel"         the user cancels (exit 1)
//   "fail"           the agent breaks down (exit 2)
namespace agent_scenario {

inline constexpr const char* scenario_path = "/var/run/authorization-agent.scenario";

// Removes and returns the first line of the file; nothing when it is missing or empty.
std::optional<std::string> take_first_line(const std::string& path);

}  // namespace agent_scenario
