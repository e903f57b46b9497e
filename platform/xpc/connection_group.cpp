#include "platform/xpc/connection_group.h"

#include <algorithm>

#include "platform/xpc/connection.h"

namespace platform {

void xpc_connection_group_t::enter(const std::shared_ptr<xpc_connection_t>& connection) {
  const std::lock_guard guard(lock_);
  running_.push_back(connection);
}

void xpc_connection_group_t::leave(const xpc_connection_t* connection) {
  const std::lock_guard guard(lock_);
  // The leaving connection may already be expiring, so entries are matched by owner identity.
  std::erase_if(running_, [connection](const std::weak_ptr<xpc_connection_t>& entry) {
    const auto live = entry.lock();
    return live == nullptr || live.get() == connection;
  });
  emptied_.notify_all();
}

void xpc_connection_group_t::invalidate_all_and_wait() {
  std::unique_lock guard(lock_);
  for (const auto& entry : running_) {
    if (const auto live = entry.lock()) live->invalidate();
  }
  emptied_.wait(guard, [this] { return running_.empty(); });
}

}  // namespace platform
