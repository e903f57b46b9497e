#include "platform/xpc/listener.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "platform/xpc/activation.h"
#include "platform/xpc/connection_group.h"
#include "platform/xpc/peer.h"

namespace platform {
namespace {

enum class wake_t { client, stop, failed };

// The listening socket may belong to the service manager, so it is never shut down here: the
// queue is stopped through its own event instead.
wake_t wait_for_client(int listening, int stop_event) {
  pollfd entries[2] = {{listening, POLLIN, 0}, {stop_event, POLLIN, 0}};
  for (;;) {
    if (::poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return wake_t::failed;
    }
    if (entries[1].revents != 0) return wake_t::stop;
    if (entries[0].revents & POLLIN) return wake_t::client;
    if (entries[0].revents != 0) return wake_t::failed;
  }
}

bool readable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeout_ms) > 0;
}

// What deciding about one client may open at once: the socket, pidfds, the process's files, the
// bundle's files, the trust anchors.
constexpr long descriptors_per_client = 16;

struct directory_closer_t {
  void operator()(DIR* directory) const { ::closedir(directory); }
};

// Descriptors this process may still open before it reaches its soft limit.
long free_descriptors() {
  rlimit limit{};
  const std::unique_ptr<DIR, directory_closer_t> open_files(::opendir("/proc/self/fd"));
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || open_files == nullptr) return 0;
  long open = 0;
  while (const dirent* entry = ::readdir(open_files.get())) {
    if (entry->d_name[0] != '.') ++open;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return descriptors_per_client * 1024;
  return static_cast<long>(limit.rlim_cur) - open;
}

}  // namespace

std::string xpc_socket_path(std::string_view mach_service_name) {
  return "/var/run/" + std::string(mach_service_name) + ".socket";
}

std::unique_ptr<xpc_listener_t> xpc_listener_t::initWithMachServiceName(std::string_view name,
                                                                        trace_t& trace) {
  return std::make_unique<xpc_listener_t>(xpc_socket_path(name), trace);
}

xpc_listener_t::xpc_listener_t(std::string socket_path, trace_t& trace)
    : socket_path_(std::move(socket_path)),
      trace_(trace),
      group_(std::make_shared<xpc_connection_group_t>()) {}

xpc_listener_t::~xpc_listener_t() {
  if (accept_thread_.joinable()) {
    const std::uint64_t one = 1;
    if (::write(stop_event_.get(), &one, sizeof(one)) != sizeof(one)) {
      trace_error(trace_, "cannot stop the listener queue");
    }
    accept_thread_.join();
  }
  group_->invalidate_all_and_wait();
}

bool xpc_listener_t::resume() {
  if (accept_thread_.joinable()) return true;
  std::string error;
  listening_ = listening_socket(socket_path_, &error);
  if (!listening_) {
    trace_error(trace_, "cannot listen on %s: %s", socket_path_.c_str(), error.c_str());
    return false;
  }
  stop_event_.reset(::eventfd(0, EFD_CLOEXEC));
  if (!stop_event_) {
    trace_error(trace_, "cannot make the listener's stop event");
    return false;
  }
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

bool xpc_listener_t::has_undecided_clients() const {
  // The queue is looked at first: a client leaves it only once it is counted as deciding.
  if (listening_ && readable(listening_.get(), 0)) return true;
  return group_->deciding() > 0;
}

// Near the descriptor limit a client is left queued on the socket rather than accepted into a
// validation that would fail for want of descriptors. False when the listener is stopped.
bool xpc_listener_t::wait_for_descriptors() {
  while (free_descriptors() < descriptors_per_client * (group_->deciding() + 1)) {
    if (readable(stop_event_.get(), 100)) return false;
  }
  return true;
}

void xpc_listener_t::accept_loop() {
  for (;;) {
    const wake_t wake = wait_for_client(listening_.get(), stop_event_.get());
    if (wake == wake_t::stop || !wait_for_descriptors()) return;
    if (wake == wake_t::failed) {
      trace_error(trace_, "listener on %s failed", socket_path_.c_str());
      return;
    }
    // Counted as undecided before it leaves the queue, so that the idle test never misses it.
    group_->begin_decision();
    unique_fd_t socket(::accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int error = errno;
    if (socket) {
      offer(std::move(socket));
      continue;
    }
    group_->end_decision();
    if (error == EMFILE || error == ENFILE) {
      // Out of descriptors: the client stays queued; retry once some have been closed.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

// The client was counted as undecided before it was accepted; that ends with the decision.
void xpc_listener_t::offer(unique_fd_t socket) {
  auto peer = socket_peer_of(socket.get());
  if (!peer || !pass_credentials(socket.get()) || !delegate_) {
    group_->end_decision();
    return;
  }
  auto connection = std::make_shared<xpc_connection_t>(std::move(socket), std::move(*peer), trace_,
                                                       group_, frame_timeout_);
  connection->start([this](const std::shared_ptr<xpc_connection_t>& self) {
    delegate_(*this, self);
    group_->end_decision();
  });
}

}  // namespace platform
