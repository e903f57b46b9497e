#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "client/velmora_client.h"
#include "platform/xpc/activation.h"
#include "platform/xpc/arguments.h"
#include "platform/xpc/wire.h"
#include "tests/platform/xpc/transport_fixture.h"
#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

namespace {

using namespace std::chrono_literals;
using platform::property_list::plist_ptr_t;

std::vector<std::uint8_t> request_frame(std::uint64_t seq, const char* op,
                                        std::vector<plist_ptr_t> args) {
  const plist_ptr_t request(plist_new_dict());
  plist_t array = plist_new_array();
  for (auto& value : args)
    plist_array_append_item(array, value.release());
  plist_dict_set_item(request.get(), "seq", plist_new_uint(seq));
  plist_dict_set_item(request.get(), "op", plist_new_string(op));
  plist_dict_set_item(request.get(), "args", array);
  return platform::xpc_wire::encode(request.get()).value();
}

std::vector<plist_ptr_t> strings(const char* text) {
  std::vector<plist_ptr_t> list;
  list.push_back(platform::xpc_value(std::string(text)));
  return list;
}

std::optional<std::string> echo(velmora_client_t& client, const char* text) {
  return platform::xpc_string(client.call("echo:", strings(text)).get());
}

std::optional<velmora_client_t> connect_client(const std::string& path) {
  velmora_client_t::connect_status_t status{};
  return velmora_client_t::connect(path, &status);
}

TEST_F(TransportTest, AcceptedClientGetsRepliesInOrderWithItsPeerRecorded) {
  auto client = connect_client(socket_path_);
  ASSERT_TRUE(client);
  EXPECT_EQ(echo(*client, "first"), "first");
  std::vector<plist_ptr_t> numbers;
  numbers.push_back(platform::xpc_value(std::int32_t{-7}));
  numbers.push_back(platform::xpc_value(std::int32_t{3}));
  EXPECT_EQ(platform::xpc_integer(client->call("add:to:", std::move(numbers)).get()), -4);
  EXPECT_EQ(echo(*client, "third"), "third");

  const std::lock_guard guard(lock_);
  ASSERT_EQ(peers_.size(), 1u);
  EXPECT_EQ(peers_[0].pid, ::getpid());
  EXPECT_EQ(peers_[0].uid, ::getuid());
  EXPECT_EQ(invalidated_, 0);
}

TEST_F(TransportTest, ClientLeavingRunsTheInvalidationHandlerOnce) {
  {
    auto client = connect_client(socket_path_);
    ASSERT_TRUE(client);
    EXPECT_EQ(echo(*client, "x"), "x");
  }
  EXPECT_TRUE(wait_invalidations(1, 2s));
  std::this_thread::sleep_for(50ms);
  const std::lock_guard guard(lock_);
  EXPECT_EQ(invalidated_, 1);
  EXPECT_EQ(warning_lines(), 0) << "a client that leaves between requests is not an error";
}

TEST_F(TransportTest, RefusedClientIsClosedWithoutAcceptance) {
  accept_clients_ = false;
  velmora_client_t::connect_status_t status{};
  EXPECT_FALSE(velmora_client_t::connect(socket_path_, &status));
  EXPECT_EQ(status, velmora_client_t::connect_status_t::refused);
  const std::lock_guard guard(lock_);
  EXPECT_EQ(peers_.size(), 1u);
  EXPECT_EQ(accepted_, 0);
}

TEST_F(TransportTest, UnreachableSocketIsReportedAsSuch) {
  velmora_client_t::connect_status_t status{};
  EXPECT_FALSE(velmora_client_t::connect(directory_.path("nothing.socket"), &status));
  EXPECT_EQ(status, velmora_client_t::connect_status_t::unreachable);
}

TEST_F(TransportTest, SocketIsOpenToEveryLocalUser) {
  struct stat status {};
  ASSERT_EQ(::stat(socket_path_.c_str(), &status), 0);
  EXPECT_TRUE(S_ISSOCK(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0666u);
}

// Each malformed input ends only its own connection, after exactly one warning line; a client
// connected beside it goes on being served.
struct bad_input_t {
  const char* name;
  std::vector<std::uint8_t> bytes;
  bool close_after;
};

std::vector<bad_input_t> bad_inputs() {
  std::vector<plist_ptr_t> wrong_type;
  wrong_type.push_back(platform::xpc_value(true));
  std::vector<plist_ptr_t> too_many = strings("a");
  too_many.push_back(platform::xpc_value(std::string("b")));
  std::vector<plist_ptr_t> out_of_range;
  out_of_range.push_back(plist_ptr_t(plist_new_uint(std::uint64_t{1} << 40)));
  out_of_range.push_back(platform::xpc_value(std::int32_t{1}));

  const plist_ptr_t not_a_dictionary(plist_new_array());
  const plist_ptr_t no_seq(plist_new_dict());
  plist_dict_set_item(no_seq.get(), "op", plist_new_string("echo:"));
  plist_dict_set_item(no_seq.get(), "args", plist_new_array());

  std::vector<std::uint8_t> truncated = request_frame(1, "echo:", strings("cut short"));
  truncated.resize(truncated.size() - 3);

  return {
      {"oversized", {0x00, 0x10, 0x00, 0x01}, false},
      {"garbage", {0, 0, 0, 8, 'g', 'a', 'r', 'b', 'a', 'g', 'e', '!'}, false},
      {"empty frame", {0, 0, 0, 0}, false},
      {"truncated", truncated, true},
      {"stalled mid-frame", {0, 0}, false},
      {"unknown op", request_frame(1, "format_disk:", {}), false},
      {"wrong argument type", request_frame(1, "echo:", std::move(wrong_type)), false},
      {"wrong argument count", request_frame(1, "echo:", std::move(too_many)), false},
      {"integer out of range", request_frame(1, "add:to:", std::move(out_of_range)), false},
      {"not a dictionary", platform::xpc_wire::encode(not_a_dictionary.get()).value(), false},
      {"no seq", platform::xpc_wire::encode(no_seq.get()).value(), false},
  };
}

TEST_F(TransportTest, MalformedInputEndsOnlyThatConnectionAfterOneWarning) {
  auto bystander = connect_client(socket_path_);
  ASSERT_TRUE(bystander);
  int ended = 0;
  for (const auto& input : bad_inputs()) {
    SCOPED_TRACE(input.name);
    const int warnings_before = warning_lines();
    const auto fd = raw_connect();
    ASSERT_TRUE(fd);
    ASSERT_TRUE(read_acceptance(fd.get()));
    send_bytes(fd.get(), input.bytes);
    if (input.close_after) ::shutdown(fd.get(), SHUT_WR);
    EXPECT_TRUE(closed_within(fd.get(), 2s));
    EXPECT_TRUE(wait_invalidations(++ended, 2s));
    EXPECT_EQ(warning_lines(), warnings_before + 1);
    EXPECT_EQ(echo(*bystander, input.name), input.name);
  }
}

TEST_F(TransportTest, BytesSentBeforeAcceptanceCloseTheConnection) {
  std::promise<void> written;
  auto written_future = written.get_future().share();
  before_decision_ = [written_future] { written_future.wait(); };
  const auto fd = raw_connect();
  ASSERT_TRUE(fd);
  send_bytes(fd.get(), request_frame(1, "echo:", strings("too early")));
  written.set_value();
  EXPECT_FALSE(read_acceptance(fd.get()));
  EXPECT_TRUE(wait_invalidations(1, 2s));
  EXPECT_EQ(warning_lines(), 1);
}

TEST_F(TransportTest, FrameFromAnotherProcessEndsTheConnection) {
  const auto fd = raw_connect();
  ASSERT_TRUE(fd);
  ASSERT_TRUE(read_acceptance(fd.get()));
  const auto frame = request_frame(1, "echo:", strings("from a child"));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const bool sent = ::send(fd.get(), frame.data(), frame.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(frame.size());
    ::_exit(sent ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(closed_within(fd.get(), 2s))
      << "no reply may go to a process that was handed the socket";
  EXPECT_TRUE(wait_invalidations(1, 2s));
  EXPECT_EQ(warning_lines(), 1);
}

TEST_F(TransportTest, FrameCarryingADescriptorEndsTheConnection) {
  const auto fd = raw_connect();
  ASSERT_TRUE(fd);
  ASSERT_TRUE(read_acceptance(fd.get()));
  auto frame = request_frame(1, "echo:", strings("with a descriptor"));
  iovec io{frame.data(), frame.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
  header.msg_iov = &io;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof(control);
  cmsghdr* c = CMSG_FIRSTHDR(&header);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  const int passed = STDIN_FILENO;
  std::memcpy(CMSG_DATA(c), &passed, sizeof(passed));
  ASSERT_EQ(::sendmsg(fd.get(), &header, MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
  EXPECT_TRUE(closed_within(fd.get(), 2s));
  EXPECT_EQ(warning_lines(), 1);
}

TEST_F(TransportTest, ConnectionsAreServedSideBySide) {
  auto held = connect_client(socket_path_);
  auto other = connect_client(socket_path_);
  ASSERT_TRUE(held && other);
  auto held_reply = std::async(std::launch::async, [&] {
    return platform::xpc_string(held->call("hold:", strings("held")).get());
  });
  EXPECT_EQ(echo(*other, "not blocked"), "not blocked");
  EXPECT_EQ(held_reply.wait_for(100ms), std::future_status::timeout);
  object_->release_holds();
  EXPECT_EQ(held_reply.get(), "held");
}

// The decision about a client runs on its own connection's queue: one that takes long (a large
// or stalling client to validate) holds up no other client, and counts as undecided meanwhile.
TEST_F(TransportTest, SlowDecisionAboutOneClientHoldsUpNoOther) {
  std::promise<void> first_deciding;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> decisions{0};
  before_decision_ = [&] {
    if (decisions++ > 0) return;
    first_deciding.set_value();
    released.wait_for(10s);
  };
  const auto slow = raw_connect();
  ASSERT_TRUE(slow);
  ASSERT_EQ(first_deciding.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(listener_->has_undecided_clients());

  auto other = std::async(std::launch::async, [&] { return connect_client(socket_path_); });
  ASSERT_EQ(other.wait_for(3s), std::future_status::ready) << "the other client waited";
  auto client = other.get();
  ASSERT_TRUE(client);
  EXPECT_EQ(echo(*client, "not blocked"), "not blocked");
  EXPECT_TRUE(listener_->has_undecided_clients());

  release.set_value();
  EXPECT_TRUE(read_acceptance(slow.get()));
  EXPECT_FALSE(listener_->has_undecided_clients());
}

TEST_F(TransportTest, DestroyingTheListenerEndsLiveConnections) {
  auto client = connect_client(socket_path_);
  ASSERT_TRUE(client);
  listener_.reset();
  EXPECT_TRUE(closed_within(client->socket(), 2s));
  const std::lock_guard guard(lock_);
  EXPECT_EQ(invalidated_, 1);
}

TEST(ListeningSocket, StaleSocketFileIsReplacedButOtherFilesAreKept) {
  const test_support::scratch_directory_t directory;
  const std::string stale = directory.path("stale.socket");
  std::string error;
  { const auto first = platform::listening_socket(stale, &error); }
  EXPECT_TRUE(platform::listening_socket(stale, &error)) << error;

  const std::string regular = directory.path("regular.file");
  ASSERT_TRUE(test_support::write_text(regular, "keep me"));
  EXPECT_FALSE(platform::listening_socket(regular, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test_support::read_text(regular), "keep me");
}

}  // namespace
