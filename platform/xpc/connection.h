#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/unique_fd.h"
#include "platform/xpc/exported_object.h"
#include "platform/xpc/peer.h"
#include "platform/xpc/wire.h"
#include "trace/trace.h"

namespace platform {

class xpc_connection_group_t;

// One accepted client. After resume its own thread acts as the connection's serial queue: it
// sends the acceptance frame, then reads requests one after another, hands each to the exported
// object and writes the reply. Anything malformed ends the connection after one warning line.
// When the connection ends (client gone, malformed input, invalidate) the invalidation handler
// runs once on that thread.
class xpc_connection_t : public std::enable_shared_from_this<xpc_connection_t> {
 public:
  // Made by the listener for each accepted socket.
  xpc_connection_t(unique_fd_t socket, xpc_peer_t peer, trace_t& trace,
                   std::shared_ptr<xpc_connection_group_t> group,
                   std::chrono::milliseconds frame_timeout);
  xpc_connection_t(const xpc_connection_t&) = delete;
  xpc_connection_t& operator=(const xpc_connection_t&) = delete;
  ~xpc_connection_t();

  // The client process as the kernel recorded it at connect time.
  const xpc_peer_t& auditToken() const { return peer_; }

  void setExportedObject(std::shared_ptr<xpc_exported_object_t> object);
  void setInvalidationHandler(std::function<void()> handler);
  // Asked before each request is handled: empty while the peer is still the client that was
  // accepted, otherwise what changed; a change ends the connection.
  void setPeerCheck(std::function<std::optional<std::string>()> check);
  // Runs decide on the connection's own queue, so that deciding about one client holds up no
  // other; a connection that decide has resumed is then served on that queue. Called once, by
  // the listener.
  void start(std::function<void(const std::shared_ptr<xpc_connection_t>&)> decide);
  // Starts the connection's queue; only the first call does anything.
  void resume();
  // Ends the connection from any thread; the invalidation handler runs on the queue.
  void invalidate();

 private:
  void serve();
  bool has_early_bytes() const;
  bool send_acceptance();
  bool serve_request();
  bool dispatch(plist_t request);
  void send_reply(std::uint64_t seq, property_list::plist_ptr_t value);
  void finish();

  unique_fd_t socket_;
  xpc_peer_t peer_;
  trace_t& trace_;
  std::shared_ptr<xpc_connection_group_t> group_;
  xpc_wire::frame_reader_t reader_;
  std::shared_ptr<xpc_exported_object_t> exported_;
  std::function<void()> invalidation_handler_;
  std::function<std::optional<std::string>()> peer_check_;
  std::atomic<bool> resumed_{false};
  std::atomic<bool> queue_started_{false};
  std::mutex write_lock_;
};

}  // namespace platform
