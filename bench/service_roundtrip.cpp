// Round trips through the helper's transport and protocol table, beside a bare Unix-socket echo
// of the same message sizes. Run pinned to one CPU (taskset -c 0): waking a thread on the other
// CPU costs more than the whole round trip.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/xpc/listener.h"
#include "platform/xpc/wire.h"
#include "service/helper_tool.h"
#include "service/selectors.h"

namespace {

using platform::property_list::plist_ptr_t;

// A temporary directory for the sockets and the trace of one benchmark.
struct scratch_t {
  scratch_t() {
    char pattern[] = "/tmp/velmora-bench.XXXXXX";
    directory = ::mkdtemp(pattern);
    trace_use_path(string_t((directory + "/trace").c_str()));
  }
  ~scratch_t() { std::filesystem::remove_all(directory); }
  std::string directory;
};

// The service object behind a listener on a scratch socket; the service's own delegate decides.
struct helper_server_t {
  helper_server_t() : listener(scratch.directory + "/helper.socket", helper.trace()) {
    listener.setDelegate([this](platform::xpc_listener_t& l,
                                const std::shared_ptr<platform::xpc_connection_t>& conn) {
      return helper.listener_shouldAcceptNewConnection(l, conn);
    });
    listener.resume();
  }
  scratch_t scratch;
  helper_tool_t helper;
  platform::xpc_listener_t listener;
};

std::size_t frame_size(plist_t message) {
  return platform::xpc_wire::encode(message)->size();
}

plist_ptr_t version_request(std::uint64_t seq) {
  plist_ptr_t request(plist_new_dict());
  plist_dict_set_item(request.get(), "seq", plist_new_uint(seq));
  plist_dict_set_item(request.get(), "op",
                      plist_new_string(std::string(selector::get_version).c_str()));
  plist_dict_set_item(request.get(), "args", plist_new_array());
  return request;
}

// The frame sizes of one get_version_with_reply: round trip.
std::pair<std::size_t, std::size_t> version_frame_sizes() {
  const plist_ptr_t request = version_request(1);
  const plist_ptr_t reply(plist_new_dict());
  plist_dict_set_item(reply.get(), "seq", plist_new_uint(1));
  plist_dict_set_item(reply.get(), "reply", plist_new_string("2.7"));
  return {frame_size(request.get()), frame_size(reply.get())};
}

platform::unique_fd_t connect_to(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  platform::unique_fd_t fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  return fd;
}

// What a client does: waits for the acceptance frame, then asks for the version and decodes the
// answer.
bool accepted(int fd) {
  return platform::xpc_wire::read_frame(fd, {}).status == platform::xpc_wire::read_status_t::ok;
}

bool ask_version(int fd, std::uint64_t seq) {
  const plist_ptr_t request = version_request(seq);
  if (!platform::xpc_wire::write_frame(fd, request.get())) return false;
  const auto reply = platform::xpc_wire::read_frame(fd, {});
  return reply.status == platform::xpc_wire::read_status_t::ok &&
         plist_dict_get_item(reply.message.get(), "reply") != nullptr;
}

bool transfer(int fd, std::vector<char>& buffer, bool sending) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = sending ? ::send(fd, buffer.data() + done, buffer.size() - done, MSG_NOSIGNAL)
                              : ::recv(fd, buffer.data() + done, buffer.size() - done, 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Accepts on one thread and answers every request of the request size with a reply of the reply
// size, until the client closes.
struct echo_server_t {
  echo_server_t() {
    const auto sizes = version_frame_sizes();
    request_size = sizes.first;
    reply_size = sizes.second;
    path = scratch.directory + "/echo.socket";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    listening.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    ::listen(listening.get(), 64);
    thread = std::thread([this] { serve(); });
  }
  ~echo_server_t() {
    ::shutdown(listening.get(), SHUT_RDWR);
    thread.join();
  }
  void serve() {
    std::vector<char> request(request_size), reply(reply_size, 'r');
    for (;;) {
      platform::unique_fd_t client(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!client) return;
      while (transfer(client.get(), request, false) && transfer(client.get(), reply, true)) {
      }
    }
  }

  scratch_t scratch;
  std::size_t request_size = 0;
  std::size_t reply_size = 0;
  std::string path;
  platform::unique_fd_t listening;
  std::thread thread;
};

void BM_bare_echo_round_trip(benchmark::State& state) {
  echo_server_t server;
  const auto fd = connect_to(server.path);
  std::vector<char> request(server.request_size, 'q'), reply(server.reply_size);
  for (auto _ : state) {
    if (!transfer(fd.get(), request, true) || !transfer(fd.get(), reply, false)) {
      state.SkipWithError("echo failed");
      break;
    }
  }
}
BENCHMARK(BM_bare_echo_round_trip);

void BM_version_round_trip(benchmark::State& state) {
  helper_server_t server;
  const auto fd = connect_to(server.listener.socket_path());
  if (!accepted(fd.get())) {
    state.SkipWithError("not accepted");
    return;
  }
  std::uint64_t seq = 0;
  for (auto _ : state) {
    if (!ask_version(fd.get(), ++seq)) {
      state.SkipWithError("no answer");
      break;
    }
  }
}
BENCHMARK(BM_version_round_trip);

void BM_bare_connect_echo_close(benchmark::State& state) {
  echo_server_t server;
  std::vector<char> request(server.request_size, 'q'), reply(server.reply_size);
  for (auto _ : state) {
    const auto fd = connect_to(server.path);
    if (!transfer(fd.get(), request, true) || !transfer(fd.get(), reply, false)) {
      state.SkipWithError("echo failed");
      break;
    }
  }
}
BENCHMARK(BM_bare_connect_echo_close);

void BM_connect_version_close(benchmark::State& state) {
  helper_server_t server;
  for (auto _ : state) {
    const auto fd = connect_to(server.listener.socket_path());
    if (!accepted(fd.get()) || !ask_version(fd.get(), 1)) {
      state.SkipWithError("not accepted");
      break;
    }
  }
}
BENCHMARK(BM_connect_version_close);

}  // namespace

BENCHMARK_MAIN();
