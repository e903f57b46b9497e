#include "platform/xpc/wire.h"

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <span>
#include <utility>

#include "platform/base/unique_fd.h"
#include "platform/xpc/binary_list_check.h"
#include "platform/xpc/peer.h"

namespace platform::xpc_wire {
namespace {

constexpr std::size_t header_length = 4;
// Room for the usual requests and replies, and for several of them at once.
constexpr std::size_t initial_buffer_length = std::size_t{16} * 1024;

bool wait_readable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, timeout_ms);
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return false;
  }
}

// The descriptors of one control message, owned so that each is closed.
std::vector<unique_fd_t> descriptors_of(const cmsghdr* c) {
  std::vector<unique_fd_t> descriptors;
  const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
  for (std::size_t i = 0; i < count; ++i) {
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
    descriptors.emplace_back(fd);
  }
  return descriptors;
}

// Checks the control data of one received chunk. Descriptors are never accepted: they are
// closed at once so a client cannot fill the table of the service. The kernel's pidfd of the
// sender (a negative number when it could not make one) is compared and closed.
read_status_t check_control(msghdr& header, const read_options_t& options,
                            const recorded_process_t& sender) {
  bool pid_matched = !options.sender_pid;
  bool process_matched = options.sender_pidfd < 0;
  bool clean = (header.msg_flags & MSG_CTRUNC) == 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET) continue;
    if (c->cmsg_type == SCM_RIGHTS) {
      descriptors_of(c);  // closed here
      clean = false;
    } else if (c->cmsg_type == SCM_PIDFD) {
      const std::vector<unique_fd_t> pidfd = descriptors_of(c);
      process_matched = process_matched || (pidfd.size() == 1 && sender.sent(pidfd[0].get()));
    } else if (c->cmsg_type == SCM_CREDENTIALS && options.sender_pid) {
      ucred credentials{};
      std::memcpy(&credentials, CMSG_DATA(c), sizeof(credentials));
      pid_matched = credentials.pid == *options.sender_pid;
    }
  }
  if (!clean) return read_status_t::foreign_control;
  return pid_matched && process_matched ? read_status_t::ok : read_status_t::foreign_sender;
}

ssize_t receive_message(int fd, msghdr& header, int flags) {
  ssize_t n;
  do {
    n = ::recvmsg(fd, &header, flags | MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Inside a frame the rest must come within the stall time-out. The wait is made only when
// nothing is waiting yet, which spares a poll per frame in the usual case.
// The end of the stream reads as closed; the caller knows whether a frame was under way.
read_status_t receive_chunk(int fd, std::uint8_t* buffer, std::size_t length, std::size_t& received,
                            const read_options_t& options, const recorded_process_t& sender,
                            bool frame_started) {
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(ucred)) + 2 * CMSG_SPACE(sizeof(int))>
      control{};
  iovec io{buffer, length};
  msghdr header{};
  header.msg_iov = &io;
  header.msg_iovlen = 1;
  header.msg_control = control.data();
  header.msg_controllen = control.size();
  const bool timed = frame_started && options.stall_timeout_ms >= 0;
  ssize_t n = receive_message(fd, header, timed ? MSG_DONTWAIT : 0);
  if (timed && n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    if (!wait_readable(fd, options.stall_timeout_ms)) return read_status_t::stalled;
    n = receive_message(fd, header, 0);
  }
  if (n < 0) return read_status_t::failed;
  if (n == 0) return read_status_t::closed;
  received = static_cast<std::size_t>(n);
  return check_control(header, options, sender);
}

// What libplist must not be given: it would recurse, expand or cut texts.
read_status_t status_of(binary_list::verdict_t verdict) {
  switch (verdict) {
    case binary_list::verdict_t::ok:
      return read_status_t::ok;
    case binary_list::verdict_t::malformed:
      return read_status_t::undecodable;
    case binary_list::verdict_t::too_deep:
    case binary_list::verdict_t::too_expanded:
      return read_status_t::too_deep;
    case binary_list::verdict_t::text_with_nul:
      return read_status_t::text_with_nul;
  }
  return read_status_t::undecodable;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encode(plist_t message) {
  char* raw = nullptr;  // libplist writes only into a null pointer
  std::uint32_t length = 0;
  plist_to_bin(message, &raw, &length);
  const property_list::plist_memory_t body(raw);
  if (body == nullptr || length == 0 || length > max_frame_length) return std::nullopt;
  std::vector<std::uint8_t> frame(header_length + length);
  frame[0] = static_cast<std::uint8_t>(length >> 24);
  frame[1] = static_cast<std::uint8_t>(length >> 16);
  frame[2] = static_cast<std::uint8_t>(length >> 8);
  frame[3] = static_cast<std::uint8_t>(length);
  std::memcpy(frame.data() + header_length, body.get(), length);
  return frame;
}

bool write_frame(int fd, plist_t message) {
  const auto frame = encode(message);
  if (!frame) return false;
  std::size_t done = 0;
  while (done < frame->size()) {
    const ssize_t n = ::send(fd, frame->data() + done, frame->size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

frame_reader_t::frame_reader_t(int fd, read_options_t options)
    : fd_(fd), options_(options), sender_(options_.sender_pidfd), buffer_(initial_buffer_length) {}

frame_t frame_reader_t::read() {
  for (;;) {
    const std::optional<std::size_t> length = pending_length();
    if (length && *length > max_frame_length) return {read_status_t::too_long, nullptr};
    if (length && end_ - begin_ >= header_length + *length) return decode(*length);
    const std::size_t needed = header_length + length.value_or(0);
    if (const read_status_t status = receive(needed); status != read_status_t::ok) {
      return {status, nullptr};
    }
  }
}

std::optional<std::size_t> frame_reader_t::pending_length() const {
  if (end_ - begin_ < header_length) return std::nullopt;
  const std::uint8_t* header = buffer_.data() + begin_;
  return (std::size_t{header[0]} << 24) | (std::size_t{header[1]} << 16) |
         (std::size_t{header[2]} << 8) | std::size_t{header[3]};
}

// One receive into the free space, made room for the frame at the front first.
read_status_t frame_reader_t::receive(std::size_t needed) {
  if (buffer_.size() - begin_ < needed) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (buffer_.size() < needed) buffer_.resize(needed);
  }
  const bool frame_started = end_ > begin_;
  std::size_t received = 0;
  const read_status_t status = receive_chunk(fd_, buffer_.data() + end_, buffer_.size() - end_,
                                             received, options_, sender_, frame_started);
  if (status == read_status_t::ok) end_ += received;
  if (status == read_status_t::closed && frame_started) return read_status_t::truncated;
  return status;
}

frame_t frame_reader_t::decode(std::size_t length) {
  const std::span<const std::uint8_t> body(buffer_.data() + begin_ + header_length, length);
  begin_ += header_length + length;
  frame_t frame{status_of(binary_list::check(body)), nullptr};
  if (frame.status == read_status_t::ok) {
    plist_t message = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(body.data()), static_cast<std::uint32_t>(length),
                   &message);
    frame.message.reset(message);
    if (!frame.message) frame.status = read_status_t::undecodable;
  }
  // A frame far larger than usual leaves its room behind only while more is waiting.
  if (begin_ == end_) {
    begin_ = end_ = 0;
    if (buffer_.size() > initial_buffer_length) buffer_.assign(initial_buffer_length, 0);
  }
  return frame;
}

const char* describe(read_status_t status) {
  switch (status) {
    case read_status_t::ok:
      return "ok";
    case read_status_t::closed:
      return "closed";
    case read_status_t::truncated:
      return "stream ended inside a frame";
    case read_status_t::too_long:
      return "frame too long";
    case read_status_t::undecodable:
      return "frame is not a binary property list";
    case read_status_t::too_deep:
      return "frame nests or expands too far";
    case read_status_t::text_with_nul:
      return "frame holds a text with a NUL";
    case read_status_t::foreign_sender:
      return "frame sent by another process";
    case read_status_t::foreign_control:
      return "frame carried descriptors";
    case read_status_t::stalled:
      return "frame not completed in time";
    case read_status_t::failed:
      return "socket error";
  }
  return "unknown";
}

}  // namespace platform::xpc_wire
