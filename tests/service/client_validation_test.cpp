// Which clients the helper serves: only the running code of the desktop application's signed
// bundle, unaltered, and only the process that the kernel recorded as the peer.
#include "service/client_validation.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "client/velmora_client.h"
#include "platform/xpc/arguments.h"
#include "platform/xpc/peer.h"
#include "platform/xpc/wire.h"
#include "tests/platform/security/fixtures.h"
#include "tests/sandbox/support.h"
#include "tests/service/daemon_process.h"
#include "tests/support/files.h"
#include "tests/support/sandbox_session.h"

namespace {

using namespace std::chrono_literals;
using platform::unique_fd_t;

constexpr const char* system_trace = "/var/log/velmora.trace";

std::string preloadable_library() {
  for (const char* path : {"/usr/lib/x86_64-linux-gnu/libc.so.6",
                           "/usr/lib/aarch64-linux-gnu/libc.so.6", "/usr/lib64/libc.so.6"}) {
    if (std::filesystem::exists(path)) return path;
  }
  return {};
}

std::vector<std::uint8_t> darkwake_request() {
  const platform::property_list::plist_ptr_t message(plist_new_dict());
  plist_t args = plist_new_array();
  plist_array_append_item(args, plist_new_uint(3));
  plist_dict_set_item(message.get(), "seq", plist_new_uint(1));
  plist_dict_set_item(message.get(), "op", plist_new_string("set_darkwake_mode:reply:"));
  plist_dict_set_item(message.get(), "args", args);
  return platform::xpc_wire::encode(message.get()).value();
}

bool closed_within(int fd, std::chrono::seconds limit) {
  timeval timeout{static_cast<time_t>(limit.count()), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  std::array<char, 64> buffer{};
  // A peer that closes with part of a request unread resets the connection instead.
  const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

sockaddr_un address_of(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  return address;
}

// An argument vector for exec and posix_spawn, made before a fork so the child only reads it.
class exec_arguments_t {
 public:
  explicit exec_arguments_t(std::vector<std::string> words) : words_(std::move(words)) {
    for (auto& word : words_)
      pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
  }
  char* const* get() const { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

unique_fd_t connected_to(const std::string& path) {
  const sockaddr_un address = address_of(path);
  unique_fd_t fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    fd.reset();
  }
  return fd;
}

unique_fd_t received_descriptor(int channel) {
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  if (::recvmsg(channel, &message, MSG_CMSG_CLOEXEC) != 1) return {};
  const cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return {};
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
  return unique_fd_t(fd);
}

// A daemon on its own activated socket; started on demand, so that a test can queue a
// connection before the daemon first looks at it.
class DaemonValidationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::clear_journal();
    listening_ = listening_socket_at(socket_path_);
    ASSERT_TRUE(listening_);
    ASSERT_EQ(::chmod(socket_path_.c_str(), 0666), 0);
  }

  void start_daemon(daemon_options_t options = {}) {
    options.activated_socket = listening_.get();
    daemon_.emplace(options);
    ASSERT_TRUE(
        sandbox::eventually([&] { return has_line(lines(), "velmora helper 2.7 started"); }));
  }

  std::vector<std::string> lines() const { return trace_lines_of(system_trace, daemon_->pid()); }
  bool eventually_has(const std::string& ending) const {
    return sandbox::eventually([&] { return has_line(lines(), ending); });
  }
  int count(const std::string& ending) const {
    int n = 0;
    for (const auto& line : lines())
      n += has_line({line}, ending) ? 1 : 0;
    return n;
  }

  const std::string socket_path_ = "/tmp/validation-helper.socket";
  unique_fd_t listening_;
  std::optional<daemon_process_t> daemon_;
};

TEST_F(DaemonValidationTest, RefusedClientsLeaveNoTraceAndTheDaemonWaiting) {
  start_daemon();
  const auto first_refusal = std::chrono::steady_clock::now();

  const auto unsigned_copy = sandbox::run(
      {sandbox::build_program("velmora-helperctl"), "--socket", socket_path_, "version"});
  EXPECT_EQ(unsigned_copy.status, 2);
  EXPECT_NE(unsigned_copy.errors.find("refused"), std::string::npos) << unsigned_copy.errors;

  velmora_client_t::connect_status_t status{};
  EXPECT_FALSE(velmora_client_t::connect(socket_path_, &status)) << "a root process unsigned";
  EXPECT_EQ(status, velmora_client_t::connect_status_t::refused);

  const std::string library = preloadable_library();
  ASSERT_FALSE(library.empty());
  status = velmora_client_t::connect_status_t::accepted;
  EXPECT_FALSE(signed_client_t::connect(socket_path_, {"LD_PRELOAD=" + library}, &status))
      << "the signed relay with a preloaded library";
  EXPECT_EQ(status, velmora_client_t::connect_status_t::refused);

  for (const auto& line : lines()) {
    EXPECT_EQ(line.find("active connections"), std::string::npos) << line;
    EXPECT_EQ(line.find("conn invalidated"), std::string::npos) << line;
    EXPECT_EQ(line.find("connection of pid"), std::string::npos) << line;
  }
  std::this_thread::sleep_until(first_refusal + 11s);
  EXPECT_FALSE(daemon_->wait_exit(0ms)) << "no client has come yet, so it never idles out";

  auto accepted = signed_client_t::connect(socket_path_);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->get_version(), "2.7");
  EXPECT_TRUE(eventually_has("helper_tool - 1 active connections"))
      << "the refusals never entered the list";
}

TEST_F(DaemonValidationTest, SignedClientIsServedWhateverItsUser) {
  start_daemon();
  const auto as_alice = sandbox::run(sandbox_session::as_user(
      sandbox_session::kAlice,
      {signed_client_path, "--socket", socket_path_, "set-darkwake", "3"}));
  EXPECT_EQ(as_alice.status, 0) << as_alice.errors;
  EXPECT_EQ(sandbox::journal_calls_of("/usr/sbin/sysctl").size(), 1u);
  EXPECT_TRUE(eventually_has("helper_tool - 1 active connections"));
  EXPECT_TRUE(eventually_has("helper_tool - last conn invalidated"));
}

// The process connects and writes a request while it still runs an unsigned program, then
// executes the signed client. The daemon is started only once the exec has happened, so its
// check sees the signed program: the bytes already waiting are what refuses the connection.
TEST_F(DaemonValidationTest, RequestWrittenBeforeAnExecOfTheSignedClientIsNotRun) {
  const std::string silent_path = "/tmp/silent.socket";
  const unique_fd_t silent = listening_socket_at(silent_path);
  ASSERT_TRUE(silent);
  const auto request = darkwake_request();
  const exec_arguments_t args({signed_client_path, "--socket", silent_path, "version"});
  const sockaddr_un address = address_of(socket_path_);

  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
      ::_exit(1);
    }
    ::execv(args.get()[0], args.get());
    ::_exit(127);
  }
  child_process_t client(pid);
  ASSERT_TRUE(sandbox::eventually([&] {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error) ==
           signed_client_path;
  })) << "the client did not execute the signed program";

  start_daemon();
  EXPECT_TRUE(eventually_has("connection of pid " + std::to_string(pid) +
                             " sent data before it was accepted"));
  EXPECT_TRUE(eventually_has("helper_tool - last conn invalidated"));
  EXPECT_TRUE(sandbox::journal_calls_of("/usr/sbin/sysctl").empty()) << "the request ran";
  ::kill(pid, SIGKILL);
}

// An unsigned client connects and ends; the signed client is then started under its pid (the
// root's pid namespace lets the test choose the next pid). Only after that does the daemon take
// the queued connection: the kernel's record of the peer still names the client that ended.
TEST_F(DaemonValidationTest, PidOfAnEndedClientTakenByTheSignedClientIsRefused) {
  const std::string silent_path = "/tmp/silent.socket";
  const unique_fd_t silent = listening_socket_at(silent_path);
  ASSERT_TRUE(silent);
  const sockaddr_un address = address_of(socket_path_);
  const pid_t ended = ::fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ::_exit(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(ended, &status, 0), ended);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::ofstream("/proc/sys/kernel/ns_last_pid") << ended - 1;
  pid_t successor = -1;
  const exec_arguments_t args({signed_client_path, "--socket", silent_path, "version"});
  ASSERT_EQ(::posix_spawn(&successor, args.get()[0], nullptr, nullptr, args.get(), environ), 0);
  child_process_t impostor(successor);
  ASSERT_EQ(successor, ended) << "the pid was not reused";

  start_daemon();
  auto accepted = signed_client_t::connect(socket_path_);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->get_version(), "2.7");
  EXPECT_EQ(count("helper_tool - 1 active connections"), 1) << "only the relay was accepted";
  EXPECT_EQ(count("helper_tool - last conn invalidated"), 0);
  ::kill(successor, SIGKILL);
}

// X connects and executes the signed client, which the daemon accepts; this process keeps a copy
// of X's socket. X ends, and an unsigned process made to take X's pid sends a request on it.
TEST_F(DaemonValidationTest, RequestFromAProcessThatTookOverThePeerPidIsNotRun) {
  const std::string silent_path = "/tmp/silent.socket";
  const unique_fd_t silent = listening_socket_at(silent_path);
  ASSERT_TRUE(silent);
  constexpr int kept_fd = 100;
  const exec_arguments_t args({signed_client_path, "--socket", silent_path, "version"});
  const sockaddr_un address = address_of(socket_path_);

  const pid_t peer = ::fork();
  ASSERT_GE(peer, 0);
  if (peer == 0) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::dup2(fd, kept_fd) != kept_fd) {
      ::_exit(1);
    }
    ::execv(args.get()[0], args.get());
    ::_exit(127);
  }
  child_process_t client(peer);
  ASSERT_TRUE(sandbox::eventually([&] {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(peer) + "/exe", error) ==
           signed_client_path;
  })) << "the client did not execute the signed program";
  const unique_fd_t peer_pidfd(platform::open_pidfd(peer));
  const unique_fd_t kept(
      static_cast<int>(::syscall(SYS_pidfd_getfd, peer_pidfd.get(), kept_fd, 0U)));
  ASSERT_TRUE(kept);

  start_daemon();
  ASSERT_EQ(platform::xpc_wire::frame_reader_t(kept.get(), {}).read().status,
            platform::xpc_wire::read_status_t::ok)
      << "the signed client was not accepted";
  ::kill(peer, SIGKILL);
  ASSERT_TRUE(client.wait_exit(5s));

  std::ofstream("/proc/sys/kernel/ns_last_pid") << peer - 1;
  const auto request = darkwake_request();
  const pid_t impostor = ::fork();
  ASSERT_GE(impostor, 0);
  if (impostor == 0) {
    const bool sent = ::send(kept.get(), request.data(), request.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(request.size());
    ::_exit(sent ? 0 : 1);
  }
  child_process_t sender(impostor);
  ASSERT_EQ(impostor, peer) << "the pid was not reused";
  ASSERT_TRUE(sender.wait_exit(5s));

  EXPECT_TRUE(closed_within(kept.get(), 3s)) << "no reply, the connection ends";
  EXPECT_TRUE(eventually_has("connection of pid " + std::to_string(peer) +
                             " ended: frame sent by another process"));
  EXPECT_TRUE(sandbox::journal_calls_of("/usr/sbin/sysctl").empty()) << "the request ran";
}

// The signed relay connects, is accepted and hands its socket to this unsigned process.
TEST_F(DaemonValidationTest, ConnectionHandedToAnotherProcessIsEndedUnserved) {
  start_daemon();
  unique_fd_t channel;
  auto relay = start_relay(socket_path_, &channel, {"--hand-over"});
  ASSERT_TRUE(relay);
  const unique_fd_t handed = received_descriptor(channel.get());
  ASSERT_TRUE(handed) << "the relay was not accepted";
  EXPECT_TRUE(eventually_has("helper_tool - 1 active connections"));

  const auto request = darkwake_request();
  ASSERT_EQ(::send(handed.get(), request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  EXPECT_TRUE(closed_within(handed.get(), 3s)) << "no reply, the connection ends";
  EXPECT_TRUE(eventually_has("helper_tool - last conn invalidated"));
  EXPECT_TRUE(sandbox::journal_calls_of("/usr/sbin/sysctl").empty()) << "the request ran";
  channel.reset();  // the relay ends with its input
}

// The daemon starts with a low soft limit on open files and raises it to the hard one; what the
// open-files check judges is still the limit it was started with.
TEST_F(DaemonValidationTest, SoftOpenFilesLimitIsRaisedToTheHardOne) {
  daemon_options_t options;
  options.open_files = {{256, 4096}};
  start_daemon(options);
  // Raised once the daemon starts listening, which may come after its first trace line.
  const std::string limits_path = "/proc/" + std::to_string(daemon_->pid()) + "/limits";
  EXPECT_TRUE(sandbox::eventually([&] {
    return test_support::read_text(limits_path)
               .find("Max open files            4096                 4096") != std::string::npos;
  })) << test_support::read_text(limits_path);
  EXPECT_TRUE(eventually_has("helper_tool - os maxfiles values 256 : 4096"));
  EXPECT_TRUE(
      sandbox::eventually([] { return !sandbox::journal_calls_of("/bin/launchctl").empty(); }));
}

// With few descriptors left a client waits on the socket instead of failing its validation, and
// is served once others leave.
TEST_F(DaemonValidationTest, NearTheDescriptorLimitClientsWaitAndAreThenServed) {
  daemon_options_t options;
  options.open_files = {{48, 48}};
  start_daemon(options);
  struct held_t {
    child_process_t relay;
    unique_fd_t stream;
  };
  std::vector<held_t> held;
  std::optional<held_t> waiting;
  for (int i = 0; i < 24 && !waiting; ++i) {
    held_t client;
    auto relay = start_relay(socket_path_, &client.stream);
    ASSERT_TRUE(relay);
    client.relay = std::move(*relay);
    if (accepted_within(client.stream.get(), 3s)) {
      held.push_back(std::move(client));
    } else {
      waiting = std::move(client);
    }
  }
  ASSERT_TRUE(waiting) << "never near the limit";
  ASSERT_FALSE(held.empty());
  EXPECT_FALSE(waiting->relay.wait_exit(0ms)) << "the client was refused";
  held.clear();
  EXPECT_TRUE(accepted_within(waiting->stream.get(), 5s));
}

// What the hardened runtime forbids, each on the signed relay: the daemon refuses it silently.
TEST_F(DaemonValidationTest, ClientsOutsideTheHardenedRuntimeAreRefused) {
  start_daemon();
  const auto refused = [&](const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, std::optional<uid_t> user) {
    unique_fd_t stream;
    auto relay = start_relay(socket_path_, &stream, arguments, environment, user);
    const bool accepted = relay && accepted_within(stream.get(), 5s);
    stream.reset();  // an accepted relay ends with its input
    return relay && !accepted && relay->wait_exit(5s) && WEXITSTATUS(*relay->wait_exit(0ms)) == 2;
  };
  EXPECT_TRUE(refused({"--dumpable"}, {}, sandbox_session::kAlice))
      << "dumpable: alice could trace it";
  EXPECT_TRUE(refused({"--anonymous-code"}, {}, std::nullopt)) << "anonymous executable memory";

  // A library of alice's that removes its own variable from the environment block.
  const std::string library = "/home/alice/libwipe.so";
  std::filesystem::copy_file(VELMORA_ENVIRONMENT_WIPE, library,
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(::chown(library.c_str(), sandbox_session::kAlice, sandbox_session::kAlice), 0);
  EXPECT_TRUE(refused({}, {"LD_PRELOAD=" + library}, std::nullopt)) << "a library alice can write";

  EXPECT_TRUE(refused({}, {}, sandbox_session::kAlice) == false)
      << "the relay itself, as alice, is served";
  EXPECT_EQ(count("helper_tool - 1 active connections"), 1);
}

// The signed relay is accepted and then runs cat in its place, which copies a request onto the
// connection: same process, same socket, another program.
TEST_F(DaemonValidationTest, RequestAfterTheClientExecutedAnotherProgramIsNotRun) {
  start_daemon();
  unique_fd_t stream;
  auto relay = start_relay(socket_path_, &stream, {"--then-exec", "/bin/cat"});
  ASSERT_TRUE(relay);
  ASSERT_TRUE(accepted_within(stream.get(), 5s));
  const std::string cat = "/proc/" + std::to_string(relay->pid()) + "/exe";
  ASSERT_TRUE(sandbox::eventually([&] {
    std::error_code error;
    return std::filesystem::read_symlink(cat, error).filename() == "cat";
  }));
  const auto request = darkwake_request();
  ASSERT_EQ(::send(stream.get(), request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  EXPECT_TRUE(eventually_has("connection of pid " + std::to_string(relay->pid()) +
                             " ended: the client executed another program"));
  EXPECT_TRUE(sandbox::journal_calls_of("/usr/sbin/sysctl").empty()) << "the request ran";
  stream.reset();
}

// The check itself, on peers recorded from real connections to a socket of this test.
class ClientCheckTest : public ::testing::Test {
 protected:
  struct recorded_peer_t {
    child_process_t relay;
    unique_fd_t relay_stream;
    unique_fd_t accepted;
    platform::xpc_peer_t peer;
  };

  void SetUp() override {
    listening_ = listening_socket_at(path_);
    ASSERT_TRUE(listening_);
  }

  // The relay, signed, connects and waits for an acceptance that never comes.
  std::optional<recorded_peer_t> signed_peer() {
    recorded_peer_t recorded;
    auto relay = start_relay(path_, &recorded.relay_stream);
    if (!relay) return std::nullopt;
    recorded.relay = std::move(*relay);
    recorded.accepted = unique_fd_t(::accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    auto peer = platform::socket_peer_of(recorded.accepted.get());
    if (!peer) return std::nullopt;
    recorded.peer = std::move(*peer);
    return recorded;
  }

  const std::string path_ = "/tmp/check.socket";
  unique_fd_t listening_;
  const std::string requirement_ = codesign_fixtures::kClientRequirement;
};

TEST_F(ClientCheckTest, SignedClientMeetsTheRequirementOnlyAsWritten) {
  auto recorded = signed_peer();
  ASSERT_TRUE(recorded);
  EXPECT_TRUE(client_is_authorized(recorded->peer, requirement_));

  std::string other_team = requirement_;
  other_team.replace(other_team.find("R4TQ8N2VXH"), 10, "ZZZZZZZZZZ");
  EXPECT_FALSE(client_is_authorized(recorded->peer, other_team));
  std::string later_version = requirement_;
  later_version.replace(later_version.find("\"6.0.0\""), 7, "\"6.0.1\"");
  EXPECT_FALSE(client_is_authorized(recorded->peer, later_version));
  EXPECT_FALSE(client_is_authorized(recorded->peer, "identifier \"com.corvantix.velmora-vl"))
      << "a text that does not compile";
  EXPECT_FALSE(client_is_authorized(recorded->peer, ""));
}

TEST_F(ClientCheckTest, UnsignedPeerIsRefused) {
  const unique_fd_t own = connected_to(path_);
  ASSERT_TRUE(own);
  const unique_fd_t accepted(::accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  const auto peer = platform::socket_peer_of(accepted.get());
  ASSERT_TRUE(peer);
  EXPECT_EQ(peer->pid, ::getpid());
  EXPECT_FALSE(client_is_authorized(*peer, requirement_));
}

// What a pid taken over by the signed program looks like to the check: the recorded pidfd
// still names the client that ended, the pid names a signed process.
TEST_F(ClientCheckTest, PidNowRunningTheSignedProgramIsNotTheRecordedClient) {
  auto gone = signed_peer();
  auto running = signed_peer();
  ASSERT_TRUE(gone && running);
  ASSERT_GE(gone->peer.pidfd.get(), 0) << "the kernel gives no peer pidfd";
  ::kill(gone->relay.pid(), SIGKILL);
  ASSERT_TRUE(gone->relay.wait_exit(5s));
  EXPECT_FALSE(client_is_authorized(gone->peer, requirement_)) << "the client has ended";

  platform::xpc_peer_t taken_over;
  taken_over.pid = running->peer.pid;
  taken_over.uid = running->peer.uid;
  taken_over.pidfd = std::move(gone->peer.pidfd);
  EXPECT_FALSE(client_is_authorized(taken_over, requirement_));
  EXPECT_TRUE(client_is_authorized(running->peer, requirement_));
}

}  // namespace
