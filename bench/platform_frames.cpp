// What knowing the sender of each frame costs on an open connection: one small request frame
// written and read back per iteration, its sender checked by pid only (SCM_CREDENTIALS), by pidfd
// (SCM_PIDFD compared with the peer's), and by pidfd plus the identity of the program the peer
// runs (executable, address space, non-dumpable), beside the encoding of the frame and the checks
// made only at acceptance.
// Run pinned to one CPU (taskset -c 0) and compare within one run.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include "platform/security/code_mappings.h"
#include "platform/security/guest_identity.h"
#include "platform/security/guest_process.h"
#include "platform/xpc/peer.h"
#include "platform/xpc/wire.h"

namespace {

using platform::unique_fd_t;
using platform::property_list::plist_ptr_t;

plist_ptr_t request() {
  plist_ptr_t message(plist_new_dict());
  plist_dict_set_item(message.get(), "seq", plist_new_uint(1));
  plist_dict_set_item(message.get(), "op", plist_new_string("get_version_with_reply:"));
  plist_dict_set_item(message.get(), "args", plist_new_array());
  return message;
}

// This process as a validated client of itself.
std::optional<platform::guest_code_t> own_guest() {
  std::optional<platform::process_ref_t> self = platform::process_ref_t::of_pid(::getpid());
  if (!self) return std::nullopt;
  unique_fd_t directory = platform::open_proc_directory(*self);
  if (!directory) return std::nullopt;
  unique_fd_t executable = platform::open_executable(directory.get());
  return platform::guest_code_t{std::move(*self), std::move(directory), std::move(executable), {}};
}

void frames(benchmark::State& state, bool by_pidfd, const std::function<bool()>& per_frame) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    state.SkipWithError("no socket pair");
    return;
  }
  const unique_fd_t reader(ends[0]), writer(ends[1]);
  const int on = 1;
  const bool passing =
      by_pidfd ? platform::pass_credentials(reader.get())
               : ::setsockopt(reader.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) == 0;
  const auto peer = platform::socket_peer_of(reader.get());
  if (!passing || !peer || !peer->pidfd) {
    state.SkipWithError("no peer credentials");
    return;
  }
  platform::xpc_wire::read_options_t options;
  options.sender_pid = peer->pid;
  if (by_pidfd) options.sender_pidfd = peer->pidfd.get();
  const plist_ptr_t message = request();
  platform::xpc_wire::frame_reader_t frame_reader(reader.get(), options);
  for (auto _ : state) {
    if (!platform::xpc_wire::write_frame(writer.get(), message.get()) ||
        frame_reader.read().status != platform::xpc_wire::read_status_t::ok ||
        (per_frame && !per_frame())) {
      state.SkipWithError("frame refused");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_frame_sender_by_pid(benchmark::State& state) {
  frames(state, false, {});
}
BENCHMARK(BM_frame_sender_by_pid);

void BM_frame_sender_by_pidfd(benchmark::State& state) {
  frames(state, true, {});
}
BENCHMARK(BM_frame_sender_by_pidfd);

void BM_frame_sender_by_pidfd_and_identity(benchmark::State& state) {
  const auto guest = own_guest();
  const auto identity = guest ? platform::guest_identity_t::of(*guest) : std::nullopt;
  if (!identity) {
    state.SkipWithError("no identity");
    return;
  }
  frames(state, true, [&] { return !identity->change(); });
}
BENCHMARK(BM_frame_sender_by_pidfd_and_identity);

// The list encoding alone, which each side of a round trip pays once: libplist's binary writer
// sets up and tears down its own tables for every message, however small.
void BM_request_encoding(benchmark::State& state) {
  const plist_ptr_t message = request();
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform::xpc_wire::encode(message.get()));
  }
}
BENCHMARK(BM_request_encoding);

// What the acceptance adds and a frame does not repeat: the executable memory of the process.
void BM_code_mappings_check(benchmark::State& state) {
  const auto guest = own_guest();
  if (!guest) {
    state.SkipWithError("no guest");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        platform::foreign_code_mapping(guest->proc_directory.get(), guest->executable.get()));
  }
}
BENCHMARK(BM_code_mappings_check);

}  // namespace

BENCHMARK_MAIN();
