#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/authorization/session_token.h"

// What the tests inside the throwaway root share: sessions of its users, the agent's scenario,
// the stand-ins' journal.
namespace sandbox_session {

inline constexpr uid_t kAlice = 1001;  // member of "admin", password "alice-secret"
inline constexpr uid_t kBob = 1002;    // no administrator, password "bob-secret"

// A session of the administrator alice whose credentials the agent gives for the next answers
// needed, one per request that asks.
std::vector<std::uint8_t> administrator_session(int answers = 1);

// Registers a session the way the client does, in a child running as the user.
std::vector<std::uint8_t> register_session_as(uid_t user);

// argv run as the user, with the user's group and no others.
std::vector<std::string> as_user(uid_t user, std::vector<std::string> argv);

// A session file created here and given to the user.
std::vector<std::uint8_t> register_session_for(uid_t user);

std::string session_path(const std::vector<std::uint8_t>& external_form);

// The agent's answers for its next runs, one line each.
void set_agent_scenario(const std::vector<std::string>& lines);
std::string agent_scenario_left();

// The arguments of every call of the tool (by its macOS path) since the test began.
std::vector<std::vector<std::string>> journal_calls(const std::string& tool);

// Removes what an earlier test left: sessions, database, scenario, journal, failures.
void clean_root();

}  // namespace sandbox_session
