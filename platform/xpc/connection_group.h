#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class xpc_connection_t;

// The connections of one listener whose queues are running. The listener's destructor ends
// them and waits, so no queue outlives the objects it calls into.
class xpc_connection_group_t {
 public:
  void enter(const std::shared_ptr<xpc_connection_t>& connection);
  void leave(const xpc_connection_t* connection);
  void invalidate_all_and_wait();

  // Clients accepted from the socket whose decision has not been made yet.
  void begin_decision() { ++deciding_; }
  void end_decision() { --deciding_; }
  int deciding() const { return deciding_; }

 private:
  std::mutex lock_;
  std::condition_variable emptied_;
  std::vector<std::weak_ptr<xpc_connection_t>> running_;
  std::atomic<int> deciding_{0};
};

}  // namespace platform
