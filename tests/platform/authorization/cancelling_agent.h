#pragma once

#include <sys/types.h>

#include <atomic>
#include <thread>

// An authentication agent whose user presses Cancel at once, as in the desktop's dialog: it
// registers with polkitd for one process and answers every authentication with polkit's
// "Cancelled" error. pkttyagent has no such answer (closing it is a failure, not a cancel).
class cancelling_agent_t {
 public:
  explicit cancelling_agent_t(pid_t subject);
  cancelling_agent_t(const cancelling_agent_t&) = delete;
  cancelling_agent_t& operator=(const cancelling_agent_t&) = delete;
  ~cancelling_agent_t();

  // Whether polkitd accepted the registration.
  bool registered() const { return registered_; }
  // How many authentications it was asked for.
  int asked() const { return asked_; }

 private:
  void serve(pid_t subject);

  std::atomic<bool> registered_{false};
  std::atomic<bool> ready_{false};
  std::atomic<bool> stop_{false};
  std::atomic<int> asked_{0};
  std::thread thread_;
};
