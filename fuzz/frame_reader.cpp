// The frame reader on a client's byte stream: length prefixes, binary lists, the sender check
// of every chunk, and the typed reads of request arguments.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "platform/xpc/arguments.h"
#include "platform/xpc/peer.h"
#include "platform/xpc/wire.h"

namespace {

using platform::unique_fd_t;
using platform::xpc_type_t;
namespace wire = platform::xpc_wire;

// The argument lists of the protocol's operations, as a request may claim to match them.
constexpr std::array<std::array<xpc_type_t, 5>, 3> signatures{{
    {xpc_type_t::data, xpc_type_t::string, xpc_type_t::string, xpc_type_t::string,
     xpc_type_t::string},
    {xpc_type_t::string, xpc_type_t::boolean, xpc_type_t::string, xpc_type_t::data,
     xpc_type_t::integer},
    {xpc_type_t::boolean, xpc_type_t::string, xpc_type_t::integer, xpc_type_t::integer,
     xpc_type_t::data},
}};

void read_arguments(plist_t message) {
  if (plist_get_node_type(message) != PLIST_DICT) return;
  plist_t args = plist_dict_get_item(message, "args");
  if (plist_get_node_type(args) != PLIST_ARRAY) return;
  const platform::xpc_arguments_t arguments(args);
  for (const auto& signature : signatures) {
    for (std::size_t count = 0; count <= signature.size(); ++count) {
      const std::span<const xpc_type_t> types(signature.data(), count);
      if (!arguments.conform_to(types)) continue;
      for (std::size_t i = 0; i < count; ++i) {
        switch (types[i]) {
          case xpc_type_t::data:
            (void)arguments.data_at(i);
            break;
          case xpc_type_t::string:
            if (arguments.string_at(i).find('\0') != std::string::npos) std::abort();
            break;
          case xpc_type_t::boolean:
            (void)arguments.boolean_at(i);
            break;
          case xpc_type_t::integer:
            (void)arguments.integer_at(i);
            break;
        }
      }
    }
  }
}

// Writes the whole stream and ends it. A short stream fits the socket's buffer at once; a
// longer one is written by a thread while the frames are read.
std::thread write_stream(int fd, std::string_view bytes) {
  auto write_all = [fd, bytes] {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;  // the reader stopped early
      done += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
  };
  if (bytes.size() > std::size_t{64} * 1024) return std::thread(write_all);
  write_all();
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) std::abort();
  unique_fd_t reader(ends[0]);
  const unique_fd_t writer(ends[1]);
  if (!platform::pass_credentials(reader.get())) std::abort();
  std::thread writing = write_stream(writer.get(), fuzz_support::as_text(data, size));

  wire::read_options_t options;
  options.sender_pid = ::getpid();
  options.stall_timeout_ms = 0;
  wire::frame_reader_t frames(reader.get(), options);
  for (;;) {
    const auto frame = frames.read();
    if (frame.status != wire::read_status_t::ok) {
      if (frame.status == wire::read_status_t::foreign_sender ||
          frame.status == wire::read_status_t::foreign_control ||
          frame.status == wire::read_status_t::failed) {
        std::abort();  // every chunk came from this process, without descriptors
      }
      break;
    }
    read_arguments(frame.message.get());
    (void)wire::encode(frame.message.get());
  }
  reader.reset();
  if (writing.joinable()) writing.join();
  return 0;
}
