// A client's byte stream on an accepted connection: frames read with the sender check, requests
// checked and dispatched to the 17 operations of the service object, replies written back. The
// service runs with its platform boundary replaced (fuzz/platform_boundary.cpp): tools "end" at
// once with the status and output the input chooses, and nothing on the machine changes.
//
// Input: one byte tool status, one byte length N, N bytes tool output, then the stream.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <future>

#include "fuzz/fuzz_support.h"
#include "fuzz/platform_boundary.h"
#include "platform/xpc/connection.h"
#include "platform/xpc/connection_group.h"
#include "platform/xpc/wire.h"
#include "service/helper_tool.h"
#include "service/velmora_helper_xpc.h"

namespace {

using platform::unique_fd_t;
namespace wire = platform::xpc_wire;

helper_tool_t& service() {
  fuzz_support::trace_into_scratch();
  static helper_tool_t tool;
  return tool;
}

void send_all(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;  // the connection ended early, as it may
    done += static_cast<std::size_t>(n);
  }
}

// A reply is {"seq": integer, "reply": value}, nothing else.
void check_reply(plist_t reply) {
  if (plist_get_node_type(reply) != PLIST_DICT ||
      plist_get_node_type(plist_dict_get_item(reply, "seq")) != PLIST_UINT ||
      plist_dict_get_item(reply, "reply") == nullptr || plist_dict_get_size(reply) != 2) {
    std::abort();
  }
}

void serve_stream(std::string_view stream) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) std::abort();
  unique_fd_t service_end(ends[0]);
  const unique_fd_t client_end(ends[1]);
  platform::pass_credentials(service_end.get());

  platform::xpc_peer_t peer;
  peer.pid = ::getpid();
  peer.uid = ::getuid();
  peer.gid = ::getgid();
  auto connection = std::make_shared<platform::xpc_connection_t>(
      std::move(service_end), std::move(peer), service().trace(),
      std::make_shared<platform::xpc_connection_group_t>(), std::chrono::milliseconds(1000));
  std::promise<void> ended;
  connection->setExportedObject(std::make_shared<velmora_helper_xpc_t>(service()));
  connection->setInvalidationHandler([&ended] { ended.set_value(); });
  connection->resume();

  wire::frame_reader_t reader(client_end.get(), {});
  const auto accepted = reader.read();
  if (accepted.status != wire::read_status_t::ok) std::abort();
  send_all(client_end.get(), stream);
  ::shutdown(client_end.get(), SHUT_WR);
  for (;;) {
    const auto reply = reader.read();
    if (reply.status != wire::read_status_t::ok) break;
    check_reply(reply.message.get());
  }
  ended.get_future().wait();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  auto& answer = fuzz_boundary::tool_answer();
  answer.status = data[0];
  const std::size_t output_length = std::min<std::size_t>(data[1], size - 2);
  answer.output.assign(reinterpret_cast<const char*>(data + 2), output_length);
  serve_stream(fuzz_support::as_text(data + 2 + output_length, size - 2 - output_length));
  return 0;
}
