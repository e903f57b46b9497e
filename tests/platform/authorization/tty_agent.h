#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

// What the polkit tests drive: a process that stands for a client (the polkit subject), and
// pkttyagent on a pseudo-terminal registered for it, answered as a person at the terminal would.
namespace tty_agent {

// A process of the user that does nothing until it is killed (when this object goes).
class subject_process_t {
 public:
  explicit subject_process_t(uid_t user);
  subject_process_t(const subject_process_t&) = delete;
  subject_process_t& operator=(const subject_process_t&) = delete;
  ~subject_process_t();

  pid_t pid() const { return pid_; }
  uid_t user() const { return user_; }

 private:
  pid_t pid_ = -1;
  uid_t user_;
};

// pkttyagent --process PID --notify-fd N on its own pseudo-terminal, run as root: inside the
// throwaway root no_new_privs keeps the set-uid helper of a user's agent from authenticating.
class agent_t {
 public:
  explicit agent_t(pid_t subject);
  agent_t(const agent_t&) = delete;
  agent_t& operator=(const agent_t&) = delete;
  ~agent_t();

  // Waits until the agent has registered with polkitd (it closes the notify descriptor).
  bool wait_registered();
  // Reads the terminal until the text appears after what an earlier wait found; false at the
  // time-out.
  bool wait_for(const std::string& text,
                std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Waits for the prompt and for echo to go off (the agent flushes what was typed before), then
  // types the line.
  bool type_password(const std::string& password);
  // The user closes the terminal window: the agent gets a hang-up.
  void close_terminal();

  // Everything the terminal showed so far.
  const std::string& screen() const { return screen_; }

 private:
  bool read_some(std::chrono::milliseconds limit);

  pid_t pid_ = -1;
  int terminal_ = -1;  // the master side
  int notify_ = -1;
  std::string screen_;
  std::size_t seen_ = 0;  // where the next wait starts looking
};

}  // namespace tty_agent
