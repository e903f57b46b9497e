#pragma once

#include <sys/types.h>

#include <string>

// The credentials dialog of a client on a terminal: pkttyagent, registered with polkit for this
// process for as long as this object lives. Inside a login session it registers as a fallback,
// so that an agent of the session (the desktop's dialog) still comes first.
namespace platform::authorization {

inline constexpr const char* kTerminalAgentPath = "/usr/bin/pkttyagent";

class terminal_agent_t {
 public:
  // Starts the agent when standard input is a terminal and the process is not root (polkit
  // grants root without asking), and returns once the agent has registered. Otherwise, or when
  // the agent could not start (then *error says why, when error is not null), no agent runs.
  static terminal_agent_t start_if_on_terminal(std::string* error);

  terminal_agent_t() = default;
  terminal_agent_t(terminal_agent_t&& other) noexcept;
  terminal_agent_t& operator=(terminal_agent_t&& other) noexcept;
  terminal_agent_t(const terminal_agent_t&) = delete;
  terminal_agent_t& operator=(const terminal_agent_t&) = delete;
  ~terminal_agent_t();  // ends the agent and waits for it

  bool running() const { return pid_ > 0; }

 private:
  explicit terminal_agent_t(pid_t pid) : pid_(pid) {}
  void stop();

  pid_t pid_ = -1;
};

}  // namespace platform::authorization
