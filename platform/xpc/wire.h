#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/property_list.h"
#include "platform/xpc/peer.h"

// Messages on the socket: a 4-byte big-endian length, then that many bytes of binary property
// list.
namespace platform::xpc_wire {

inline constexpr std::size_t max_frame_length = 1024 * 1024;

enum class read_status_t {
  ok,
  closed,           // end of stream between frames
  truncated,        // end of stream inside a frame
  too_long,         // the length exceeds max_frame_length
  undecodable,      // the body is not a binary property list
  too_deep,         // the list nests deeper, or expands further, than any message may
  text_with_nul,    // a string of the list holds a NUL
  foreign_sender,   // a chunk was sent by another process than the expected one
  foreign_control,  // a chunk carried descriptors or cut control data
  stalled,          // the rest of a started frame did not come in time
  failed,           // the socket reported an error
};

struct frame_t {
  read_status_t status = read_status_t::failed;
  property_list::plist_ptr_t message;
};

// The frame bytes of one message; nothing when it cannot be encoded or is too long.
std::optional<std::vector<std::uint8_t>> encode(plist_t message);

// Writes one whole frame; false when the peer is gone or the message cannot be encoded.
bool write_frame(int fd, plist_t message);

struct read_options_t {
  // When set, every chunk of the frame must carry this sender pid (SCM_CREDENTIALS).
  std::optional<pid_t> sender_pid;
  // When not negative, every chunk must carry a pidfd (SCM_PIDFD) of the process this pidfd
  // names.
  int sender_pidfd = -1;
  // How long the rest of a frame may take once its first byte arrived; negative waits forever.
  int stall_timeout_ms = -1;
};

// Reads the frames of one socket in order. What arrives beyond the frame returned is kept for
// the next: a whole frame usually comes in one receive instead of a header and a body apart, and
// a sender may write several frames at once. Every receive is checked against the options.
class frame_reader_t {
 public:
  frame_reader_t(int fd, read_options_t options);

  // Blocks until a whole frame is here or the stream ends.
  frame_t read();

 private:
  // The length of the frame at the front, once its header is here.
  std::optional<std::size_t> pending_length() const;
  read_status_t receive(std::size_t needed);
  frame_t decode(std::size_t length);

  int fd_;
  read_options_t options_;
  recorded_process_t sender_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;  // the unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
};

// A short description of a status, for trace lines.
const char* describe(read_status_t status);

}  // namespace platform::xpc_wire
