// velmora-test-relay SOCKET: a client for tests that must reach the helper through a signed
// program. It connects, waits for the acceptance frame, then copies its standard input to the
// connection and the connection to its standard output, so a test can send any bytes, well
// formed or not, over an accepted connection. The acceptance frame is passed on as well.
//
// velmora-test-relay --hand-over SOCKET: once accepted, sends the connected socket over its
// standard input (a Unix socket) and waits until that input ends, holding the connection open.
//
// velmora-test-relay --then-exec PROGRAM SOCKET: once accepted and the acceptance frame passed
// on, runs PROGRAM in its place with the connection as standard output.
//
// Like every client it makes itself non-dumpable at start; --dumpable leaves that out, and
// --anonymous-code maps a page of anonymous executable memory before connecting.
//
// Built without sanitizers: tests start it with LD_PRELOAD.
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/base/unique_fd.h"

namespace {

using platform::unique_fd_t;

constexpr int exit_refused = 2;
constexpr int exit_usage = 64;
constexpr std::uint32_t max_frame = 1u << 20;

unique_fd_t connected_socket(std::string_view path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return {};
  std::memcpy(address.sun_path, path.data(), path.size());
  unique_fd_t fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd && ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    fd.reset();
  return fd;
}

bool read_exactly(int fd, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::read(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The first frame, length prefix included; empty when the helper closed without one.
std::vector<std::uint8_t> acceptance_frame(int fd) {
  std::vector<std::uint8_t> frame(4);
  if (!read_exactly(fd, frame.data(), 4)) return {};
  const std::uint32_t length = (std::uint32_t{frame[0]} << 24) | (std::uint32_t{frame[1]} << 16) |
                               (std::uint32_t{frame[2]} << 8) | std::uint32_t{frame[3]};
  if (length > max_frame) return {};
  frame.resize(4 + length);
  if (!read_exactly(fd, frame.data() + 4, length)) return {};
  return frame;
}

// Copies until the helper ends the connection. The end of the input is passed on as a shutdown
// of the sending side, so the helper still answers what it has received.
void copy_both_ways(int connection) {
  std::array<pollfd, 2> streams{pollfd{STDIN_FILENO, POLLIN, 0}, pollfd{connection, POLLIN, 0}};
  std::array<std::uint8_t, 65536> buffer{};
  for (;;) {
    if (::poll(streams.data(), streams.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (streams[1].revents != 0) {
      const ssize_t n = ::read(connection, buffer.data(), buffer.size());
      if (n <= 0 || !write_all(STDOUT_FILENO, buffer.data(), static_cast<std::size_t>(n))) return;
    }
    if (streams[0].revents != 0) {
      const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
      if (n <= 0) {
        ::shutdown(connection, SHUT_WR);
        streams[0].fd = -1;
      } else if (!write_all(connection, buffer.data(), static_cast<std::size_t>(n))) {
        return;
      }
    }
  }
}

bool send_descriptor(int channel, int fd) {
  char byte = 'c';
  iovec data{&byte, 1};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
  return ::sendmsg(channel, &message, MSG_NOSIGNAL) == 1;
}

void wait_for_end_of_input() {
  std::array<std::uint8_t, 256> buffer{};
  while (::read(STDIN_FILENO, buffer.data(), buffer.size()) > 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return exit_usage;
  bool hand_over = false;
  bool dumpable = false;
  bool anonymous_code = false;
  const char* then_exec = nullptr;
  for (int i = 1; i < argc - 1; ++i) {
    const std::string_view option = argv[i];
    if (option == "--hand-over") {
      hand_over = true;
    } else if (option == "--dumpable") {
      dumpable = true;
    } else if (option == "--anonymous-code") {
      anonymous_code = true;
    } else if (option == "--then-exec" && i + 1 < argc - 1) {
      then_exec = argv[++i];
    } else {
      return exit_usage;
    }
  }
  // What the client library does before main in every real client.
  if (!dumpable && ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return 1;
  if (anonymous_code && ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS,
                               -1, 0) == MAP_FAILED) {
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);
  const unique_fd_t connection = connected_socket(argv[argc - 1]);
  if (!connection) return exit_refused;
  const auto frame = acceptance_frame(connection.get());
  if (frame.empty()) return exit_refused;
  if (hand_over) {
    if (!send_descriptor(STDIN_FILENO, connection.get())) return 1;
    wait_for_end_of_input();
    return 0;
  }
  if (!write_all(STDOUT_FILENO, frame.data(), frame.size())) return 1;
  if (then_exec != nullptr) {
    if (::dup2(connection.get(), STDOUT_FILENO) != STDOUT_FILENO) return 1;
    char* replacement[] = {const_cast<char*>(then_exec), nullptr};
    ::execv(then_exec, replacement);
    return 1;
  }
  copy_both_ways(connection.get());
  return 0;
}
