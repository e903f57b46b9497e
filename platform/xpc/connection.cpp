#include "platform/xpc/connection.h"

#include <sys/socket.h>

#include <string>
#include <thread>
#include <utility>

#include "platform/base/request_sender.h"
#include "platform/xpc/connection_group.h"

namespace platform {
namespace {

using property_list::plist_ptr_t;

struct request_fields_t {
  std::uint64_t seq = 0;
  std::string op;
  plist_t args = nullptr;  // borrowed from the request
};

std::optional<request_fields_t> request_fields(plist_t request) {
  if (plist_get_node_type(request) != PLIST_DICT) return std::nullopt;
  plist_t seq = plist_dict_get_item(request, "seq");
  plist_t args = plist_dict_get_item(request, "args");
  const auto op = xpc_string(plist_dict_get_item(request, "op"));
  if (seq == nullptr || plist_get_node_type(seq) != PLIST_UINT || !op || args == nullptr ||
      plist_get_node_type(args) != PLIST_ARRAY) {
    return std::nullopt;
  }
  request_fields_t fields;
  plist_get_uint_val(seq, &fields.seq);
  fields.op = *op;
  fields.args = args;
  return fields;
}

// Every frame must come from the accepted process, and once begun must be completed in time.
xpc_wire::read_options_t frame_options(const xpc_peer_t& peer,
                                       std::chrono::milliseconds frame_timeout) {
  xpc_wire::read_options_t options;
  options.sender_pid = peer.pid;
  options.sender_pidfd = peer.pidfd.get();
  options.stall_timeout_ms = static_cast<int>(frame_timeout.count());
  return options;
}

}  // namespace

xpc_connection_t::xpc_connection_t(unique_fd_t socket, xpc_peer_t peer, trace_t& trace,
                                   std::shared_ptr<xpc_connection_group_t> group,
                                   std::chrono::milliseconds frame_timeout)
    : socket_(std::move(socket)),
      peer_(std::move(peer)),
      trace_(trace),
      group_(std::move(group)),
      reader_(socket_.get(), frame_options(peer_, frame_timeout)) {}

xpc_connection_t::~xpc_connection_t() = default;

void xpc_connection_t::setExportedObject(std::shared_ptr<xpc_exported_object_t> object) {
  exported_ = std::move(object);
}

void xpc_connection_t::setInvalidationHandler(std::function<void()> handler) {
  invalidation_handler_ = std::move(handler);
}

void xpc_connection_t::start(std::function<void(const std::shared_ptr<xpc_connection_t>&)> decide) {
  queue_started_ = true;
  auto self = shared_from_this();
  group_->enter(self);
  std::thread([self, decide = std::move(decide)] {
    decide(self);
    if (self->resumed_) self->serve();
    self->group_->leave(self.get());
  }).detach();
}

void xpc_connection_t::setPeerCheck(std::function<std::optional<std::string>()> check) {
  peer_check_ = std::move(check);
}

void xpc_connection_t::resume() {
  if (resumed_.exchange(true) || queue_started_) return;
  auto self = shared_from_this();
  group_->enter(self);
  std::thread([self] {
    self->serve();
    self->group_->leave(self.get());
  }).detach();
}

void xpc_connection_t::invalidate() {
  ::shutdown(socket_.get(), SHUT_RDWR);
}

void xpc_connection_t::serve() {
  if (has_early_bytes()) {
    trace_warning(trace_, "connection of pid %d sent data before it was accepted", peer_.pid);
  } else if (send_acceptance()) {
    while (serve_request()) {
    }
  }
  finish();
}

// A client sends nothing before the acceptance frame. Bytes already waiting were written before
// the validation, possibly by the program that the process ran before an exec.
bool xpc_connection_t::has_early_bytes() const {
  char byte = 0;
  return ::recv(socket_.get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

bool xpc_connection_t::send_acceptance() {
  const plist_ptr_t accepted(plist_new_dict());
  plist_dict_set_item(accepted.get(), "accepted", plist_new_bool(1));
  const std::lock_guard guard(write_lock_);
  return xpc_wire::write_frame(socket_.get(), accepted.get());
}

bool xpc_connection_t::serve_request() {
  const auto frame = reader_.read();
  if (frame.status == xpc_wire::read_status_t::closed) return false;
  if (frame.status != xpc_wire::read_status_t::ok) {
    trace_warning(trace_, "connection of pid %d ended: %s", peer_.pid,
                  xpc_wire::describe(frame.status));
    return false;
  }
  if (const auto change = peer_check_ ? peer_check_() : std::nullopt) {
    trace_warning(trace_, "connection of pid %d ended: %s", peer_.pid, change->c_str());
    return false;
  }
  return dispatch(frame.message.get());
}

bool xpc_connection_t::dispatch(plist_t request) {
  const auto fields = request_fields(request);
  if (!fields) {
    trace_warning(trace_, "connection of pid %d ended: malformed request", peer_.pid);
    return false;
  }
  auto self = shared_from_this();
  const std::uint64_t seq = fields->seq;
  xpc_reply_t reply = [self, seq](plist_ptr_t value) { self->send_reply(seq, std::move(value)); };
  // Every frame came from the peer (the wire checks each sender), so the peer is the sender.
  const request_sender_scope_t sender({peer_.pid, peer_.uid, peer_.pidfd.get()});
  const xpc_dispatch_t outcome =
      exported_ == nullptr
          ? xpc_dispatch_t::unknown_operation
          : exported_->dispatch(fields->op, xpc_arguments_t(fields->args), std::move(reply));
  if (outcome == xpc_dispatch_t::unknown_operation) {
    trace_warning(trace_, "connection of pid %d ended: unknown operation %s", peer_.pid,
                  fields->op.c_str());
    return false;
  }
  if (outcome == xpc_dispatch_t::bad_arguments) {
    trace_warning(trace_, "connection of pid %d ended: wrong arguments for %s", peer_.pid,
                  fields->op.c_str());
    return false;
  }
  return true;
}

void xpc_connection_t::send_reply(std::uint64_t seq, plist_ptr_t value) {
  if (!value) return;
  const plist_ptr_t message(plist_new_dict());
  plist_dict_set_item(message.get(), "seq", plist_new_uint(seq));
  plist_dict_set_item(message.get(), "reply", value.release());
  const std::lock_guard guard(write_lock_);
  xpc_wire::write_frame(socket_.get(), message.get());
}

void xpc_connection_t::finish() {
  ::shutdown(socket_.get(), SHUT_RDWR);
  // The handler holds this connection; dropping it here breaks that cycle.
  if (auto handler = std::exchange(invalidation_handler_, nullptr)) handler();
  exported_.reset();
}

}  // namespace platform
