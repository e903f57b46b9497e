// The idle rule of the real daemon: it never ends before its first client has come and gone,
// and ends at the first one-second test at which no client is connected and 10 s have passed
// since the latest acceptance. Each case has its own daemon on its own activated socket; the
// cases take seconds each, so each is a test of its own that runs beside the others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>

#include "client/velmora_client.h"
#include "tests/sandbox/support.h"
#include "tests/service/daemon_process.h"
#include "tests/service/held_tool.h"
#include "tests/support/files.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

using platform::unique_fd_t;

constexpr const char* trace_path = "/var/log/velmora.trace";

double seconds_between(clock_type::time_point from, clock_type::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Holds every open of one file until released, so that a validation that reads the file stalls
// right there.
class open_gate_t {
 public:
  explicit open_gate_t(const std::string& path)
      : group_(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC)) {
    if (group_ &&
        ::fanotify_mark(group_.get(), FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, path.c_str()) != 0) {
      group_.reset();
    }
  }
  ~open_gate_t() { release(); }

  bool armed() const { return static_cast<bool>(group_); }
  bool wait_for_open(std::chrono::seconds limit) {
    pollfd entry{group_.get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(limit.count() * 1000)) != 1) return false;
    fanotify_event_metadata event{};
    if (::read(group_.get(), &event, sizeof(event)) != sizeof(event)) return false;
    held_.reset(event.fd);
    return true;
  }
  void release() {
    if (!held_) return;
    const fanotify_response answer{held_.get(), FAN_ALLOW};
    [[maybe_unused]] const auto n = ::write(group_.get(), &answer, sizeof(answer));
    held_.reset();
  }

 private:
  unique_fd_t group_;
  unique_fd_t held_;
};

// One daemon on its own socket, and the clients of one case.
class idle_case_t {
 public:
  // environment: entries the daemon gets beside the usual ones.
  explicit idle_case_t(const std::string& name, const std::vector<std::string>& environment = {})
      : socket_path_("/tmp/idle-" + name + ".socket"),
        listening_(listening_socket_at(socket_path_)) {
    daemon_options_t options;
    options.activated_socket = listening_.get();
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    daemon_.emplace(options);
  }

  std::optional<signed_client_t> connect() {
    auto client = signed_client_t::connect(socket_path_);
    if (client) accepted_at_ = clock_type::now();
    return client;
  }

  // Seconds from the latest acceptance to the exit; nothing when it still runs at the limit.
  std::optional<double> exit_after_acceptance(std::chrono::seconds limit) {
    if (!daemon_->wait_exit(limit)) return std::nullopt;
    return seconds_between(accepted_at_, clock_type::now());
  }

  bool running() { return !daemon_->wait_exit(0ms); }
  const std::string& socket_path() const { return socket_path_; }
  pid_t pid() const { return daemon_->pid(); }
  std::vector<std::string> trace() const { return trace_lines_of(trace_path, daemon_->pid()); }

  int count(const std::string& ending) const {
    int n = 0;
    for (const auto& line : trace())
      n += has_line({line}, ending) ? 1 : 0;
    return n;
  }

 private:
  std::string socket_path_;
  platform::unique_fd_t listening_;
  std::optional<daemon_process_t> daemon_;
  clock_type::time_point accepted_at_;
};

// The limits allow for the one-second slices and a busy machine.
constexpr double earliest_exit = 9.9;
constexpr double latest_exit = 11.8;

TEST(IdleExit, ClientLeavingEarlyEndsTheDaemonTenSecondsAfterItsAcceptance) {
  idle_case_t c("early");
  {
    auto client = c.connect();
    ASSERT_TRUE(client);
    std::this_thread::sleep_for(3s);
  }
  const auto exit_after = c.exit_after_acceptance(20s);
  ASSERT_TRUE(exit_after);
  EXPECT_GE(*exit_after, earliest_exit);
  EXPECT_LE(*exit_after, latest_exit);
  EXPECT_EQ(c.count("helper_tool - 1 active connections"), 1);
  EXPECT_EQ(c.count("helper_tool - last conn invalidated"), 1);
}

TEST(IdleExit, ClientStayingLongEndsTheDaemonWithinASliceOfLeaving) {
  idle_case_t c("long");
  {
    auto client = c.connect();
    ASSERT_TRUE(client);
    std::this_thread::sleep_for(12s);
    EXPECT_EQ(client->get_version(), "2.7");
  }
  const auto left_at = clock_type::now();
  ASSERT_TRUE(c.exit_after_acceptance(5s));
  EXPECT_LE(seconds_between(left_at, clock_type::now()), 1.5);
}

TEST(IdleExit, OneOfTwoClientsLeavingDoesNotIdleTheDaemon) {
  idle_case_t c("two");
  auto first = c.connect();
  auto second = c.connect();
  ASSERT_TRUE(first && second);
  std::this_thread::sleep_for(1s);
  first.reset();
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(c.count("helper_tool - 2 active connections"), 1);
  EXPECT_EQ(c.count("helper_tool - last conn invalidated"), 0);
  EXPECT_EQ(second->get_version(), "2.7");
  second.reset();
  const auto exit_after = c.exit_after_acceptance(20s);
  ASSERT_TRUE(exit_after);
  EXPECT_GE(*exit_after, earliest_exit);
  EXPECT_LE(*exit_after, latest_exit);
  EXPECT_EQ(c.count("helper_tool - last conn invalidated"), 1);
}

TEST(IdleExit, ClientArrivingWhileIdleRestartsTheCount) {
  idle_case_t c("again");
  c.connect().reset();
  const auto first_left = clock_type::now();
  std::this_thread::sleep_for(6s);
  ASSERT_TRUE(c.running());
  c.connect().reset();
  std::this_thread::sleep_until(first_left + 12s);
  EXPECT_TRUE(c.running()) << "the count must start again from the latest acceptance";
  const auto exit_after = c.exit_after_acceptance(20s);
  ASSERT_TRUE(exit_after);
  EXPECT_GE(*exit_after, earliest_exit);
  EXPECT_LE(*exit_after, latest_exit);
  EXPECT_EQ(c.count("helper_tool - last conn invalidated"), 2);
}

TEST(IdleExit, DaemonWithoutClientsKeepsRunning) {
  idle_case_t c("none");
  EXPECT_FALSE(c.exit_after_acceptance(13s));
  auto client = c.connect();
  ASSERT_TRUE(client);
  EXPECT_EQ(client->get_version(), "2.7");
}

// A request whose tool does not end keeps its connection, and so the daemon, past the idle time,
// even once its client has been killed; the daemon ends within a slice of the request's end.
TEST(IdleExit, RequestStillRunningKeepsTheDaemonPastTheIdleTime) {
  idle_case_t c("busy");
  held_tool_t launchctl("/bin/launchctl", "load", "exit 1");
  auto client = c.connect();
  ASSERT_TRUE(client);
  const auto accepted_at = clock_type::now();
  auto answer = std::async(std::launch::async, [&] { return client->start_service("velmora"); });
  ASSERT_TRUE(launchctl.called_with("load"));
  ASSERT_EQ(::kill(client->relay_pid(), SIGKILL), 0);
  EXPECT_FALSE(answer.get());

  std::this_thread::sleep_until(accepted_at + 12s);
  EXPECT_TRUE(c.running()) << "the daemon ended while a request ran";
  EXPECT_EQ(c.count("helper_tool - last conn invalidated"), 0);
  launchctl.release();
  const auto released_at = clock_type::now();
  ASSERT_TRUE(c.exit_after_acceptance(5s));
  EXPECT_LE(seconds_between(released_at, clock_type::now()), 1.5);
  EXPECT_EQ(c.count("helper_tool - last conn invalidated"), 1);
}

// The idle time ends while a client is being validated (its signature is held up in the middle
// of the check): the daemon waits for the decision and serves the client.
TEST(IdleExit, ClientBeingValidatedKeepsTheDaemonPastTheIdleTime) {
  idle_case_t c("validating");
  ASSERT_TRUE(c.connect());
  const auto accepted_at = clock_type::now();
  open_gate_t gate("/opt/velmora/Relay.app/Contents/_CodeSignature/CodeSignature");
  ASSERT_TRUE(gate.armed());

  std::this_thread::sleep_until(accepted_at + 9s);
  unique_fd_t stream;
  auto relay = start_relay(c.socket_path(), &stream);
  ASSERT_TRUE(relay);
  ASSERT_TRUE(gate.wait_for_open(5s)) << "the validation did not read the signature";
  std::this_thread::sleep_until(accepted_at + 12500ms);
  EXPECT_TRUE(c.running()) << "the daemon ended during the validation";
  gate.release();
  EXPECT_TRUE(accepted_within(stream.get(), 5s));
  EXPECT_TRUE(
      sandbox::eventually([&] { return c.count("helper_tool - 1 active connections") == 2; }));
}

// The idle time ends while a client has been taken from the socket's queue and the decision about
// it has not begun yet (the peer lookup is slowed down): the daemon waits and serves the client.
TEST(IdleExit, ClientTakenFromTheQueueKeepsTheDaemonPastTheIdleTime) {
  const std::string slow_lookup = "/var/run/slow-peer-lookup";
  // The daemon of the sanitizer tree would otherwise refuse a library loaded before its runtime.
  idle_case_t c("queue",
                {"LD_PRELOAD=" VELMORA_SLOW_PEER_LOOKUP, "ASAN_OPTIONS=verify_asan_link_order=0"});
  ASSERT_TRUE(c.connect());
  const auto accepted_at = clock_type::now();
  ASSERT_NE(test_support::read_text("/proc/" + std::to_string(c.pid()) + "/maps")
                .find(VELMORA_SLOW_PEER_LOOKUP),
            std::string::npos)
      << "the daemon did not load the slow lookup";
  ASSERT_TRUE(test_support::write_text(slow_lookup, ""));

  std::this_thread::sleep_until(accepted_at + 9s);
  unique_fd_t stream;
  auto relay = start_relay(c.socket_path(), &stream);
  ASSERT_TRUE(relay);
  std::this_thread::sleep_until(accepted_at + 11500ms);
  EXPECT_TRUE(c.running()) << "the daemon ended with a client taken from the queue";
  std::filesystem::remove(slow_lookup);
  EXPECT_TRUE(accepted_within(stream.get(), 5s));
  EXPECT_TRUE(
      sandbox::eventually([&] { return c.count("helper_tool - 1 active connections") == 2; }));
}

}  // namespace
