#pragma once

#include <string>

namespace platform::authorization {

// The program that asks the user for credentials (the stand-in for the credentials dialog).
inline constexpr const char* kAuthorizationAgentPath = "/usr/libexec/authorization-agent";

// What the agent answered: a user name and a password, the user's cancel (exit status 1), or
// nothing usable (it could not run, crashed, or printed something else).
struct agent_answer_t {
  enum class kind_t { credentials, cancelled, failed };

  agent_answer_t() = default;
  agent_answer_t(kind_t k) : kind(k) {}  // NOLINT(google-explicit-constructor)
  agent_answer_t(const agent_answer_t&) = delete;
  agent_answer_t& operator=(const agent_answer_t&) = delete;
  agent_answer_t(agent_answer_t&&) = default;
  agent_answer_t& operator=(agent_answer_t&&) = default;
  ~agent_answer_t();  // wipes the password

  kind_t kind = kind_t::failed;
  std::string user;
  std::string password;
};

// Runs the agent with the right's name and description as its arguments and waits for it.
agent_answer_t run_authorization_agent(const std::string& agent_path, const std::string& right,
                                       const std::string& description);

// Reads the agent's output: a user name line and a password line.
agent_answer_t parse_agent_output(const std::string& output);

}  // namespace platform::authorization
