// Round trips through the helper's transport and protocol table, beside a bare Unix-socket echo
// of the same message sizes. Run pinned to one CPU (taskset -c 1): waking a thread on the other
// CPU costs more than the whole round trip.
//
// The helper serves only signed clients, so the program runs itself in a throwaway root, packs
// copies of itself of about 0.5, 12 and 100 MB into signed bundles there, and runs the
// benchmarks once from each: the client's size is what a new connection's validation pays for.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/xpc/listener.h"
#include "platform/xpc/wire.h"
#include "service/helper_tool.h"
#include "service/selectors.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"

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
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    fd.reset();
  }
  return fd;
}

// What a client does: waits for the acceptance frame, then asks for the version and decodes the
// answer.
bool accepted(platform::xpc_wire::frame_reader_t& reader) {
  return reader.read().status == platform::xpc_wire::read_status_t::ok;
}

bool ask_version(int fd, platform::xpc_wire::frame_reader_t& reader, std::uint64_t seq) {
  const plist_ptr_t request = version_request(seq);
  if (!platform::xpc_wire::write_frame(fd, request.get())) return false;
  const auto reply = reader.read();
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
    if (::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
            0 ||
        ::listen(listening.get(), 64) != 0) {
      listening.reset();  // every connection then fails, and the benchmark says so
    }
    thread = std::thread([this] { serve(); });
  }
  ~echo_server_t() {
    ::shutdown(listening.get(), SHUT_RDWR);
    thread.join();
  }
  // A thread per connection, as the helper's listener has.
  void serve() {
    for (;;) {
      platform::unique_fd_t client(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!client) return;
      std::thread([fd = std::move(client), request_bytes = request_size, reply_bytes = reply_size] {
        std::vector<char> request(request_bytes), reply(reply_bytes, 'r');
        while (transfer(fd.get(), request, false) && transfer(fd.get(), reply, true)) {
        }
      }).detach();
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
BENCHMARK(BM_bare_echo_round_trip)->MeasureProcessCPUTime();

void BM_version_round_trip(benchmark::State& state) {
  helper_server_t server;
  const auto fd = connect_to(server.listener.socket_path());
  platform::xpc_wire::frame_reader_t reader(fd.get(), {});
  if (!accepted(reader)) {
    state.SkipWithError("not accepted");
    return;
  }
  std::uint64_t seq = 0;
  for (auto _ : state) {
    if (!ask_version(fd.get(), reader, ++seq)) {
      state.SkipWithError("no answer");
      break;
    }
  }
}
BENCHMARK(BM_version_round_trip)->MeasureProcessCPUTime();

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
BENCHMARK(BM_bare_connect_echo_close)->MeasureProcessCPUTime();

void BM_connect_version_close(benchmark::State& state) {
  helper_server_t server;
  for (auto _ : state) {
    const auto fd = connect_to(server.listener.socket_path());
    platform::xpc_wire::frame_reader_t reader(fd.get(), {});
    if (!accepted(reader) || !ask_version(fd.get(), reader, 1)) {
      state.SkipWithError("not accepted");
      break;
    }
  }
}
BENCHMARK(BM_connect_version_close)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// ---- packing the program into signed bundles inside the throwaway root

constexpr const char* identity = "/var/db/codesign-test";
constexpr const char* client_identifier = "com.corvantix.velmora-vl-5e3a07c4";

std::string own_executable() {
  return std::filesystem::read_symlink("/proc/self/exe");
}

bool runs_from_bundle() {
  return own_executable().find(".app/Contents/MacOS/") != std::string::npos;
}

int run_in_throwaway_root(int argc, char** argv) {
  const std::string runner = VELMORA_SOURCE_DIR "/tests/sandbox/velmora-sandbox";
  const std::string self = own_executable();
  std::vector<const char*> args{runner.c_str(), "--build", VELMORA_BINARY_DIR, "--", self.c_str()};
  args.insert(args.end(), argv + 1, argv + argc);
  args.push_back(nullptr);
  ::execv(runner.c_str(), const_cast<char* const*>(args.data()));
  std::perror(runner.c_str());
  return 1;
}

bool succeeded(const std::vector<std::string>& argv) {
  const auto result = sandbox::run(argv);
  if (result.status != 0) std::fprintf(stderr, "%s: %s", argv[0].c_str(), result.errors.c_str());
  return result.status == 0;
}

// Grows the file to size with bytes that compress badly, as code does.
bool pad_to(const std::string& path, std::size_t size) {
  const platform::unique_fd_t fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  std::vector<char> block(1 << 20);
  std::uint32_t state = 2463534242u;
  for (char& byte : block) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    byte = static_cast<char>(state);
  }
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0) return false;
  for (auto have = static_cast<std::size_t>(status.st_size); have < size;) {
    const std::size_t chunk = std::min(block.size(), size - have);
    if (::write(fd.get(), block.data(), chunk) != static_cast<ssize_t>(chunk)) return false;
    have += chunk;
  }
  return true;
}

// /opt/velmora/<name>.app with a stripped copy of this program padded to size, signed as the
// desktop application. Returns its main executable, empty on failure.
std::string make_signed_bundle(const std::string& name, std::size_t size) {
  const std::string bundle = "/opt/velmora/" + name + ".app";
  const std::string executable = bundle + "/Contents/MacOS/RoundTrip";
  std::filesystem::create_directories(bundle + "/Contents/MacOS");
  const std::string info = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>RoundTrip</string>
	<key>CFBundleIdentifier</key>
	<string>)" + std::string(client_identifier) +
                           R"(</string>
	<key>CFBundleShortVersionString</key>
	<string>6.0.0</string>
	<key>CFBundleVersion</key>
	<string>6.0.0</string>
</dict>
</plist>
)";
  const std::string identity_dir = identity;
  const bool made =
      test_support::write_text(bundle + "/Contents/Info.plist", info) &&
      succeeded({"/usr/bin/strip", "-o", executable, own_executable()}) &&
      pad_to(executable, size) &&
      succeeded({"/usr/bin/velmora-codesign", "--sign", "--cert", identity_dir + "/leaf.pem",
                 "--key", identity_dir + "/leaf.key", "--chain", identity_dir + "/intermediate.pem",
                 "--identifier", client_identifier, bundle});
  return made ? executable : std::string();
}

int run_and_wait(const std::string& program, int argc, char** argv) {
  std::vector<char*> args{const_cast<char*>(program.c_str())};
  args.insert(args.end(), argv + 1, argv + argc);
  args.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, args.data(), environ) != 0) return 1;
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int run_from_signed_bundles(int argc, char** argv) {
  struct client_t {
    const char* name;
    std::size_t size;
  };
  constexpr client_t clients[] = {
      {"RoundTrip-0.5MB", 0}, {"RoundTrip-12MB", 12 << 20}, {"RoundTrip-100MB", 100 << 20}};
  int failures = 0;
  for (const client_t& client : clients) {
    const std::string executable = make_signed_bundle(client.name, client.size);
    if (executable.empty()) {
      std::fprintf(stderr, "cannot make the signed bundle %s\n", client.name);
      return 1;
    }
    std::fflush(nullptr);
    failures += run_and_wait(executable, argc, argv) != 0;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!sandbox::inside_sandbox()) return run_in_throwaway_root(argc, argv);
  if (!runs_from_bundle()) return run_from_signed_bundles(argc, argv);

  // What the client library does at start: a client that can be inspected is refused.
  ::prctl(PR_SET_DUMPABLE, 0);
  benchmark::AddCustomContext("client_executable", own_executable());
  benchmark::AddCustomContext("client_executable_bytes",
                              std::to_string(std::filesystem::file_size(own_executable())));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
