#include "tests/platform/xpc/transport_fixture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/xpc/wire.h"
#include "tests/support/trace_lines.h"

platform::xpc_dispatch_t test_object_t::dispatch(std::string_view selector,
                                                 const platform::xpc_arguments_t& arguments,
                                                 platform::xpc_reply_t reply) {
  using enum platform::xpc_type_t;
  static constexpr platform::xpc_type_t one_string[] = {string};
  static constexpr platform::xpc_type_t two_integers[] = {integer, integer};
  if (selector == "echo:" || selector == "hold:") {
    if (!arguments.conform_to(one_string)) return platform::xpc_dispatch_t::bad_arguments;
    if (selector == "hold:") {
      std::unique_lock guard(lock_);
      released_.wait(guard, [this] { return holds_released_; });
    }
    std::move(reply)(platform::xpc_value(arguments.string_at(0)));
    return platform::xpc_dispatch_t::handled;
  }
  if (selector == "add:to:") {
    if (!arguments.conform_to(two_integers)) return platform::xpc_dispatch_t::bad_arguments;
    std::move(reply)(platform::xpc_value(arguments.integer_at(0) + arguments.integer_at(1)));
    return platform::xpc_dispatch_t::handled;
  }
  return platform::xpc_dispatch_t::unknown_operation;
}

void test_object_t::release_holds() {
  const std::lock_guard guard(lock_);
  holds_released_ = true;
  released_.notify_all();
}

void TransportTest::SetUp() {
  socket_path_ = directory_.path("helper.socket");
  trace_path_ = directory_.path("trace");
  trace_use_path(string_t(trace_path_.c_str()));
  listener_ = std::make_unique<platform::xpc_listener_t>(socket_path_, trace_);
  listener_->setFrameTimeout(std::chrono::milliseconds(200));
  listener_->setDelegate([this](platform::xpc_listener_t&,
                                const std::shared_ptr<platform::xpc_connection_t>& connection) {
    if (before_decision_) before_decision_();
    const std::lock_guard guard(lock_);
    peers_.push_back({connection->auditToken().pid,
                      connection->auditToken().uid,
                      connection->auditToken().gid,
                      {}});
    if (!accept_clients_) return false;
    ++accepted_;
    connection->setExportedObject(object_);
    connection->setInvalidationHandler([this] {
      const std::lock_guard inner(lock_);
      ++invalidated_;
      changed_.notify_all();
    });
    connection->resume();
    return true;
  });
  ASSERT_TRUE(listener_->resume());
}

void TransportTest::TearDown() {
  object_->release_holds();
  listener_.reset();
}

platform::unique_fd_t TransportTest::raw_connect() const {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path_.c_str(), sizeof(address.sun_path) - 1);
  platform::unique_fd_t fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    fd.reset();
  }
  return fd;
}

bool TransportTest::read_acceptance(int fd) {
  // The service sends nothing after the acceptance before it is asked.
  const auto frame = platform::xpc_wire::frame_reader_t(fd, {}).read();
  return frame.status == platform::xpc_wire::read_status_t::ok &&
         platform::xpc_boolean(plist_dict_get_item(frame.message.get(), "accepted")) == true;
}

void TransportTest::send_bytes(int fd, const std::vector<std::uint8_t>& bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

bool TransportTest::closed_within(int fd, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[256];
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) return true;
  }
}

bool TransportTest::wait_invalidations(int count, std::chrono::milliseconds limit) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, limit, [&] { return invalidated_ >= count; });
}

int TransportTest::warning_lines() const {
  const auto lines = test_support::read_trace_lines(trace_path_);
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [](const auto& line) { return line.level == "warning"; }));
}
